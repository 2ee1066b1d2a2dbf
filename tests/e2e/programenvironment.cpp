#include "programenvironment.h"

#include "testfiles.h"
#include "xvfbdisplay.h"

#include <QFileInfo>

bool ProgramEnvironment::installOpener(const QString& binDir)
{
    // The program looks the opener up in PATH by the name it was built with.
    const QString opener = QFileInfo(QStringLiteral(CRV_CLIENT_OPENER)).fileName();
    return TestFiles::write(binDir + QLatin1Char('/') + opener,
        "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$TMPDIR/opener-called\"\n", 0755);
}

QString ProgramEnvironment::openerRecord(const QString& tmp)
{
    return tmp + QStringLiteral("/opener-called");
}

QProcessEnvironment ProgramEnvironment::make(
    const XvfbDisplay& display, const QString& tmp, const QString& binDir)
{
    QProcessEnvironment environment = display.environment();
    environment.insert(QStringLiteral("TMPDIR"), tmp);
    // In sanitizer builds: what the system libraries keep until exit is not the program's leak.
    const QString suppressions
        = QStringLiteral("suppressions=") + QStringLiteral(CRV_LSAN_SUPPRESSIONS);
    const QString lsan = environment.value(QStringLiteral("LSAN_OPTIONS"));
    environment.insert(QStringLiteral("LSAN_OPTIONS"),
        lsan.isEmpty() ? suppressions : lsan + QLatin1Char(':') + suppressions);
    environment.insert(QStringLiteral("PATH"),
        binDir + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
    return environment;
}
