#include "targetversioncheck.h"

#include "configuration.h"
#include "installedrecord.h"

qint32 TargetVersionCheck::minimumVersion()
{
    return CRV_MINIMUM_VERSION;
}

QString TargetVersionCheck::refusal(
    const Configuration& configuration, const InstalledRecord& installed)
{
    const qint32 target = configuration.clientVersion;
    if (target < minimumVersion())
        return QStringLiteral("Version %1 is older than the oldest version this updater installs, "
                              "%2; nothing to install")
            .arg(target)
            .arg(minimumVersion());
    // A record of another client type says nothing about this one's versions; one without a
    // type speaks for whatever is installed.
    const bool sameType = installed.type.isEmpty() || installed.type == configuration.clientType;
    if (installed.version > 0 && sameType && target < installed.version
        && !configuration.allowDowngrade)
        return QStringLiteral(
            "Version %1 is older than the installed version %2; nothing to install")
            .arg(target)
            .arg(installed.version);
    return {};
}
