#include "downloadfiletaskspecification.h"

#include "checksigfunc.h"
#include "checksignaturetaskspecification.h"
#include "configuration.h"
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
{
}

void DownloadFileTaskSpecification::execute()
{
    failedOn.clear();
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
    // A task told to stop must not start over; the check task still ends after this slot, so
    // it is cut off first.
    if (userCancelRequested || siblingCanceled || damaged) {
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
