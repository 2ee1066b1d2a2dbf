#include "downloadfiletaskspecification.h"

#include "checksigfunc.h"
#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "deltaapplytaskspecification.h"
#include "downloadtaskspecification.h"
#include "mirrors.h"
#include "planwork.h"

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
    , tryingDelta(file.hasDelta())
    , file(file)
{
}

void DownloadFileTaskSpecification::execute()
{
    failedOn.clear();
    tryingDelta = file.hasDelta();
    deltaBytesDone = 0;
    makeSubtasksAndStart();
}

qint64 DownloadFileTaskSpecification::plannedBytes() const
{
    return tryingDelta ? qint64(file.deltaSize) : deltaBytesDone + size;
}

void DownloadFileTaskSpecification::timeTick(
    quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick, bool& downloading)
{
    ComposedTaskSpecification::timeTick(bytesDone, bytesTotal, bytesSinceLastTick, downloading);
    // The delta's bytes were downloaded too; the file's come on top of them.
    if (!tryingDelta)
        bytesDone += quint64(deltaBytesDone);
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
    if (tryingDelta) {
        makeDeltaSubtasksAndStart();
        return;
    }
    const QString remotePath = section + QLatin1Char('/') + fileName;
    const QString localPath = configuration->tempDir + QLatin1Char('/') + fileName;
    // A file without an MD5 is checked against the ".sig" beside it, which must be here first.
    const bool signatureChecked = md5.isEmpty();
    // The ".sig" is a few hundred bytes: a share for its round trip.
    const double signatureShare = signatureChecked ? 0.02 : 0.0;
    const double checkShare = PlanWork::checkShare(quint64(qMax<qint64>(0, size)));
    downloadTask = new DownloadTaskSpecification(networkManager, mirrors, remotePath, localPath,
        size, this, 1.0 - signatureShare - checkShare);
    addSubTask(downloadTask);
    const QString signaturePath = configuration->tempDir + QLatin1Char('/') + signatureName;
    if (signatureChecked) {
        signatureTask = new DownloadTaskSpecification(networkManager, mirrors,
            remotePath + QStringLiteral(".sig"), signaturePath, -1, this, signatureShare);
        signatureTask->unknownSizeLimit = CheckSigFunc::maxWholeFileSize;
        signatureTask->sameMirrorAs = downloadTask;
        addSubTask(signatureTask);
    }
    auto* check = new CheckSignatureTaskSpecification(localPath, md5, false, this, checkShare);
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
    if (!failedOn.contains(downloadTask->currentMirror.name))
        failedOn.append(downloadTask->currentMirror.name);
    if (signatureTask)
        mirrors->blamePair(downloadTask->currentMirror.name, signatureTask->currentMirror.name);
    else
        mirrors->removeMirror(downloadTask->currentMirror.name);
    // With no mirror left the file is damaged where it is published, not on a broken mirror;
    // a retry would only report that no mirror works.
    const bool damaged = mirrors->mirrorList.isEmpty();
    if (damaged && !userCancelRequested)
        emit error(QStringLiteral("%1 is damaged on the mirrors: it failed its check on %2, "
                                  "and no other mirror is left")
                       .arg(fileName, failedOn.join(QStringLiteral(", "))));
    // The check task still ends after this slot; stop() cuts it off first.
    if (damaged) {
        stop();
        return;
    }
    startOver();
}

void DownloadFileTaskSpecification::makeDeltaSubtasksAndStart()
{
    const QString deltaPath = configuration->tempDir + QLatin1Char('/') + file.deltaFileName();
    const double applyShare = PlanWork::applyShare(file);
    downloadTask = new DownloadTaskSpecification(networkManager, mirrors, file.deltaRemotePath,
        deltaPath, qint64(file.deltaSize), this, 1.0 - applyShare);
    // A mirror that lacks the delta still serves the file.
    downloadTask->mayBeAbsent = true;
    addSubTask(downloadTask);
    auto* apply = new DeltaApplyTaskSpecification(file, configuration->tempDir, this, applyShare);
    connect(apply, &DeltaApplyTaskSpecification::applied, this,
        &DownloadFileTaskSpecification::onDeltaApplied, Qt::DirectConnection);
    addSubTask(apply);
    state = TaskRunning;
    executeSubTasks();
}

void DownloadFileTaskSpecification::onDeltaApplied(bool ok)
{
    if (ok) {
        emit message(QStringLiteral("%1 arrived as a delta (%2 of %3 bytes)")
                         .arg(fileName, QString::number(file.deltaSize), QString::number(size)));
        return;
    }
    downloadWholeFile();
}

// The delta's download failed for good (no mirror would serve it, or its file could not be
// written): the whole file may still come.
void DownloadFileTaskSpecification::subtasksDone()
{
    if (tryingDelta && getStateFromSubTasks() == TaskErrorCanceled && !userCancelRequested
        && !siblingCanceled && !mirrors->mirrorList.isEmpty()) {
        QFile::remove(configuration->tempDir + QLatin1Char('/') + file.deltaFileName());
        downloadWholeFile();
        return;
    }
    ComposedTaskSpecification::subtasksDone();
}

void DownloadFileTaskSpecification::downloadWholeFile()
{
    tryingDelta = false;
    deltaBytesDone = downloadTask ? downloadTask->bytesWritten : 0;
    startOver();
}

// A task told to stop must not start over.
void DownloadFileTaskSpecification::startOver()
{
    if (userCancelRequested || siblingCanceled) {
        stop();
        return;
    }
    reset();
    makeSubtasksAndStart();
}

void DownloadFileTaskSpecification::stop()
{
    clearSubTasks();
    if (userCancelRequested)
        userCancel();
    else
        errorCancel();
}
