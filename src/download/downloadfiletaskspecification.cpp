#include "downloadfiletaskspecification.h"

#include "checksigfunc.h"
#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"
#include "mirrors.h"

#include <QFile>

DownloadFileTaskSpecification::DownloadFileTaskSpecification(const FileDownloadSpecification& file,
    QNetworkAccessManager* manager, Mirrors* mirrors, Configuration* configuration, QObject* parent,
    double progressRange)
    : ComposedTaskSpecification(1, progressRange, parent)
    , section(file.section)
    , fileName(file.fileName)
    , md5(file.md5)
    , size(qint64(file.size))
    , sha256(file.sha256)
    , signatureName(file.fileName + QStringLiteral(".sig"))
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
    signatureTask = nullptr;
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
    const QString remotePath = section + QLatin1Char('/') + fileName;
    const QString localPath = configuration->tempDir + QLatin1Char('/') + fileName;
    // A file without an MD5 is checked against the ".sig" beside it, which must be here first.
    const bool signatureChecked = md5.isEmpty();
    downloadTask = new DownloadTaskSpecification(
        networkManager, mirrors, remotePath, localPath, size, this, signatureChecked ? 0.75 : 0.8);
    addSubTask(downloadTask);
    const QString signaturePath = configuration->tempDir + QLatin1Char('/') + signatureName;
    if (signatureChecked) {
        signatureTask = new DownloadTaskSpecification(networkManager, mirrors,
            remotePath + QStringLiteral(".sig"), signaturePath, -1, this, 0.05);
        signatureTask->unknownSizeLimit = CheckSigFunc::maxWholeFileSize;
        signatureTask->sameMirrorAs = downloadTask;
        addSubTask(signatureTask);
    }
    auto* check = new CheckSignatureTaskSpecification(localPath, md5, false, this, 0.2);
    check->signaturePath = signaturePath;
    check->expectedSha256 = sha256;
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &DownloadFileTaskSpecification::onSigCheckDone, Qt::DirectConnection);
    addSubTask(check);

    state = TaskRunning;
    executeSubTasks();
}

void DownloadFileTaskSpecification::onSigCheckDone(
    bool pass, CheckSignatureTaskSpecification* check)
{
    if (signatureTask && signatureName != fileName + QStringLiteral(".sig"))
        QFile::remove(check->signaturePath);
    if (pass)
        return;
    // The next download would otherwise continue from bytes that are known to be wrong.
    QFile::remove(check->filePath);
    emit message(
        QStringLiteral("md5 sum for %1 failed, invalidating mirror and retrying").arg(fileName));
    if (signatureTask)
        mirrors->blamePair(downloadTask->currentMirror.name, signatureTask->currentMirror.name);
    else
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
