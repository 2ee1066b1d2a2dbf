#include "downloadfiletaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"
#include "mirrors.h"

DownloadFileTaskSpecification::DownloadFileTaskSpecification(const FileDownloadSpecification& file,
    QNetworkAccessManager* manager, Mirrors* mirrors, Configuration* configuration, QObject* parent,
    double progressRange)
    : ComposedTaskSpecification(1, progressRange, parent)
    , section(file.section)
    , fileName(file.fileName)
    , md5(file.md5)
    , size(qint64(file.size))
    , networkManager(manager)
    , mirrors(mirrors)
    , configuration(configuration)
{
}

void DownloadFileTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void DownloadFileTaskSpecification::reset()
{
    clearSubTasks();
    downloadTask = nullptr;
    siblingCanceled = false;
    ComposedTaskSpecification::reset();
}

void DownloadFileTaskSpecification::handleOtherTaskCancelled(TaskSpecification* other)
{
    siblingCanceled = true;
    ComposedTaskSpecification::handleOtherTaskCancelled(other);
}

void DownloadFileTaskSpecification::makeSubtasksAndStart()
{
    const QString localPath = configuration->tempDir + QLatin1Char('/') + fileName;
    downloadTask = new DownloadTaskSpecification(
        networkManager, mirrors, section + QLatin1Char('/') + fileName, localPath, size, this, 0.8);
    addSubTask(downloadTask);
    auto* check = new CheckSignatureTaskSpecification(localPath, md5, false, this, 0.2);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &DownloadFileTaskSpecification::onSigCheckDone, Qt::DirectConnection);
    addSubTask(check);

    state = TaskRunning;
    executeSubTasks();
}

void DownloadFileTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification*)
{
    if (pass)
        return;
    emit message(
        QStringLiteral("md5 sum for %1 failed, invalidating mirror and retrying").arg(fileName));
    mirrors->removeMirror(downloadTask->currentMirror.name);
    // A task told to stop must not start over; the check task still ends after this slot, so
    // it is cut off first.
    if (userCancelRequested || siblingCanceled) {
        clearSubTasks();
        if (userCancelRequested)
            userCancel();
        else
            errorCancel();
        return;
    }
    reset();
    makeSubtasksAndStart();
}
