#include "inidownloadtaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"

#include <QFile>

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
    failedChecks = 0;
    ComposedTaskSpecification::reset();
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
        addSubTask(new DownloadTaskSpecification(
            networkManager, mirrors, iniName, localIni, -1, this, 0.3333));
        checkShare = 0.6667;
    }
    if (!reuseLocal || !QFile::exists(localSig)) {
        addSubTask(new DownloadTaskSpecification(
            networkManager, mirrors, sigName, localSig, -1, this, 0.3333));
        checkShare -= 0.3333;
    }
    auto* check = new CheckSignatureTaskSpecification(localIni, QString(), false, this, checkShare);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &IniDownloadTaskSpecification::onSigCheckDone, Qt::DirectConnection);
    addSubTask(check);

    state = TaskRunning;
    executeSubTasks();
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification*)
{
    if (pass)
        return;
    ++failedChecks;
    // The check task still ends after this slot; it must not reach a task that has ended.
    if (failedChecks > maxFailedChecks) {
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
