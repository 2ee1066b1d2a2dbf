#include "inidownloadtaskspecification.h"

#include "checksigfunc.h"
#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"
#include "escapedforlog.h"
#include "mirrors.h"

#include <QFile>
#include <QSettings>

namespace {
#ifdef CRV_ACCEPT_UNVERSIONED_INI
constexpr bool acceptUnversionedIni = true;
#else
constexpr bool acceptUnversionedIni = false;
#endif
} // namespace

IniDownloadTaskSpecification::IniDownloadTaskSpecification(QNetworkAccessManager* manager,
    Mirrors* mirrors, Configuration* configuration, QObject* parent, double progressRange)
    : ComposedTaskSpecification(1, progressRange, parent)
    , networkManager(manager)
    , mirrors(mirrors)
    , configuration(configuration)
{
}

void IniDownloadTaskSpecification::execute()
{
    emit message(QStringLiteral("Download / check product ini"));
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::reset()
{
    clearSubTasks();
    iniTask = nullptr;
    sigTask = nullptr;
    failedChecks = 0;
    ComposedTaskSpecification::reset();
}

DownloadTaskSpecification* IniDownloadTaskSpecification::addDownload(
    const QString& remotePath, const QString& localPath, qint64 limit, double share)
{
    auto* download = new DownloadTaskSpecification(
        networkManager, mirrors, remotePath, localPath, -1, this, share);
    download->unknownSizeLimit = limit;
    addSubTask(download);
    return download;
}

void IniDownloadTaskSpecification::makeSubtasksAndStart()
{
    const QString iniName = configuration->clientType + QStringLiteral(".ini");
    const QString sigName = iniName + QStringLiteral(".sig");
    const QString localIni = configuration->tempDir + QLatin1Char('/') + iniName;
    const QString localSig = localIni + QStringLiteral(".sig");

    // Copies left by an interrupted session are trusted only until a check has failed.
    const bool reuseLocal = failedChecks <= 0;
    double checkShare = 1.0;
    if (!reuseLocal || !QFile::exists(localIni)) {
        iniTask = addDownload(iniName, localIni, maxIniSize, 0.3333);
        checkShare = 0.6667;
    }
    if (!reuseLocal || !QFile::exists(localSig)) {
        sigTask = addDownload(sigName, localSig, CheckSigFunc::maxWholeFileSize, 0.3333);
        sigTask->sameMirrorAs = iniTask;
        checkShare -= 0.3333;
    }
    auto* check = new CheckSignatureTaskSpecification(localIni, QString(), false, this, checkShare);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &IniDownloadTaskSpecification::onSigCheckDone, Qt::DirectConnection);
    addSubTask(check);

    state = TaskRunning;
    executeSubTasks();
}

QString IniDownloadTaskSpecification::identityError(
    const QString& iniPath, const QString& clientType, int version, bool acceptUnversioned)
{
    // Keys before the first section header, which the plan never reads.
    const QSettings ini(iniPath, QSettings::IniFormat);
    const QVariant iniVersion = ini.value(QStringLiteral("version"));
    const QVariant iniType = ini.value(QStringLiteral("type"));
    if (!iniVersion.isValid() && !iniType.isValid() && acceptUnversioned)
        return QString();
    if (!iniVersion.isValid() || !iniType.isValid())
        return QStringLiteral("The product ini does not name its version and client type; "
                              "refusing it");
    bool numeric = false;
    const int named = iniVersion.toString().toInt(&numeric);
    if (!numeric || named != version || iniType.toString() != clientType)
        return QStringLiteral("The product ini is for %1 version %2, not %3 version %4; "
                              "refusing it")
            .arg(escapedForLog(iniType.toString()), escapedForLog(iniVersion.toString()),
                clientType, QString::number(version));
    return QString();
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check)
{
    if (pass) {
        const QString refused = identityError(check->filePath, configuration->clientType,
            configuration->clientVersion, acceptUnversionedIni);
        if (refused.isEmpty())
            return;
        emit message(refused);
    }
    ++failedChecks;
    blameMirrors();
    // The check task still ends after this slot; it must not reach a task that has ended.
    if (failedChecks > maxFailedChecks || mirrors->mirrorList.isEmpty()) {
        emit message(QStringLiteral("Could not verify the product ini file. Aborting"));
        clearSubTasks();
        errorCancel();
        return;
    }
    if (userCancelRequested) {
        clearSubTasks();
        userCancel();
        return;
    }
    emit message(QStringLiteral("Could not verify the product ini file. Retrying"));
    const qint32 failures = failedChecks;
    reset();
    failedChecks = failures;
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::blameMirrors()
{
    // A copy reused from an interrupted session may be the bad one (cut short when the session
    // broke off), so no mirror is blamed for an attempt that used one.
    if (!iniTask || !sigTask)
        return;
    mirrors->blamePair(iniTask->currentMirror.name, sigTask->currentMirror.name);
}
