#include "sha256sumsdownloadtaskspecification.h"

#include "downloadtaskspecification.h"
#include "mirrors.h"
#include "sha256sums.h"

#include <QFile>

Sha256SumsDownloadTaskSpecification::Sha256SumsDownloadTaskSpecification(
    QNetworkAccessManager* manager, Mirrors* mirrors, Configuration* configuration,
    const IniDownloadTaskSpecification* iniDownload, QObject* parent, double progressRange)
    : SidecarDownloadTaskSpecification(manager, mirrors, configuration, iniDownload,
        Sha256Sums::suffix, Sha256Sums::maxFileSize, parent, progressRange)
{
}

void Sha256SumsDownloadTaskSpecification::execute()
{
    failedOn.clear();
    expectedSha256 = Sha256Sums::digestInIni(iniPath());
    if (expectedSha256.isEmpty()) {
        finish();
        return;
    }
    if (!Sha256Sums::isDigest(expectedSha256)) {
        emit message(QStringLiteral("The product ini names no valid SHA-256 for its file list; "
                                    "refusing it"));
        errorCancel();
        return;
    }
    emit message(QStringLiteral("Download / check file list"));
    if (QFile::exists(sidecarPath())) {
        switch (Sha256Sums().load(sidecarPath(), expectedSha256)) {
        case Sha256Sums::Ok:
            finish();
            return;
        case Sha256Sums::Malformed:
            refuseMalformed();
            return;
        default:
            break;
        }
    }
    startDownload();
}

void Sha256SumsDownloadTaskSpecification::startDownload()
{
    addDownload(false);
    // After the composite's own handler, so a retry started here cuts off what it queued.
    connect(download, &TaskSpecification::finished, this,
        &Sha256SumsDownloadTaskSpecification::onDownloadFinished, Qt::DirectConnection);
    executeSubTasks();
}

void Sha256SumsDownloadTaskSpecification::onDownloadFinished()
{
    const Sha256Sums::Result result
        = Sha256Sums().load(download->localFile.fileName(), expectedSha256);
    if (result == Sha256Sums::Ok)
        return;
    if (result == Sha256Sums::Malformed) {
        clearSubTasks();
        refuseMalformed();
        return;
    }
    emit message(QStringLiteral("The file list from mirror %1 does not match the product ini; "
                                "invalidating mirror")
                     .arg(download->currentMirror.name));
    if (!failedOn.contains(download->currentMirror.name))
        failedOn.append(download->currentMirror.name);
    mirrors->removeMirror(download->currentMirror.name);
    if (userCancelRequested) {
        clearSubTasks();
        userCancel();
        return;
    }
    if (mirrors->mirrorList.isEmpty()) {
        clearSubTasks();
        giveUp();
        return;
    }
    reset();
    startDownload();
}

void Sha256SumsDownloadTaskSpecification::subtasksDone()
{
    if (getStateFromSubTasks() == TaskErrorCanceled)
        giveUp();
    else
        ComposedTaskSpecification::subtasksDone();
}

void Sha256SumsDownloadTaskSpecification::giveUp()
{
    emit message(QStringLiteral("Could not verify the file list of the product ini. Aborting"));
    // A list that mirrors served and that failed its check says the release is bad; without
    // this the run would read as one that no mirror could serve.
    if (!failedOn.isEmpty() && !userCancelRequested)
        emit error(QStringLiteral("The file list of the product ini failed its check on %1, and "
                                  "no other mirror is left")
                       .arg(failedOn.join(QStringLiteral(", "))));
    errorCancel();
}

void Sha256SumsDownloadTaskSpecification::refuseMalformed()
{
    // The run's reason: without it the run would fail without saying why.
    if (!userCancelRequested)
        emit error(QStringLiteral("The file list of the product ini is malformed; refusing it"));
    errorCancel();
}
