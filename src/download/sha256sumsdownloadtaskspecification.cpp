#include "sha256sumsdownloadtaskspecification.h"

#include "configuration.h"
#include "downloadtaskspecification.h"
#include "inidownloadtaskspecification.h"
#include "mirrors.h"
#include "sha256sums.h"

#include <QFile>

Sha256SumsDownloadTaskSpecification::Sha256SumsDownloadTaskSpecification(
    QNetworkAccessManager* manager, Mirrors* mirrors, Configuration* configuration,
    const IniDownloadTaskSpecification* iniDownload, QObject* parent, double progressRange)
    : ComposedTaskSpecification(1, progressRange, parent)
    , networkManager(manager)
    , mirrors(mirrors)
    , configuration(configuration)
    , iniStep(iniDownload)
{
}

QString Sha256SumsDownloadTaskSpecification::iniPath() const
{
    return configuration->tempDir + QLatin1Char('/') + configuration->clientType
        + QStringLiteral(".ini");
}

void Sha256SumsDownloadTaskSpecification::execute()
{
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
    const QString localPath = iniPath() + QLatin1String(Sha256Sums::suffix);
    if (QFile::exists(localPath)) {
        switch (Sha256Sums().load(localPath, expectedSha256)) {
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

void Sha256SumsDownloadTaskSpecification::reset()
{
    clearSubTasks();
    download = nullptr;
    ComposedTaskSpecification::reset();
}

void Sha256SumsDownloadTaskSpecification::startDownload()
{
    const QString remotePath
        = configuration->clientType + QStringLiteral(".ini") + QLatin1String(Sha256Sums::suffix);
    download = new DownloadTaskSpecification(networkManager, mirrors, remotePath,
        iniPath() + QLatin1String(Sha256Sums::suffix), -1, this, 1.0);
    download->unknownSizeLimit = Sha256Sums::maxFileSize;
    download->sameMirrorAs = iniStep ? iniStep->iniDownload() : nullptr;
    addSubTask(download);
    // After the composite's own handler, so a retry started here cuts off what it queued.
    connect(download, &TaskSpecification::finished, this,
        &Sha256SumsDownloadTaskSpecification::onDownloadFinished, Qt::DirectConnection);
    state = TaskRunning;
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
    errorCancel();
}

void Sha256SumsDownloadTaskSpecification::refuseMalformed()
{
    emit message(QStringLiteral("The file list of the product ini is malformed; refusing it"));
    errorCancel();
}
