#include "deltalistdownloadtaskspecification.h"

#include "configuration.h"
#include "deltalist.h"
#include "downloadtaskspecification.h"
#include "inidownloadtaskspecification.h"

#include <QFile>

DeltaListDownloadTaskSpecification::DeltaListDownloadTaskSpecification(
    QNetworkAccessManager* manager, Mirrors* mirrors, Configuration* configuration,
    const IniDownloadTaskSpecification* iniDownload, QObject* parent, double progressRange)
    : ComposedTaskSpecification(1, progressRange, parent)
    , networkManager(manager)
    , mirrors(mirrors)
    , configuration(configuration)
    , iniStep(iniDownload)
{
}

QString DeltaListDownloadTaskSpecification::listPath() const
{
    return configuration->tempDir + QLatin1Char('/') + configuration->clientType
        + QStringLiteral(".ini") + QLatin1String(DeltaList::suffix);
}

bool DeltaListDownloadTaskSpecification::listIsGood() const
{
    return DeltaList().load(listPath(), expectedSha256) == Sha256Sums::Ok;
}

void DeltaListDownloadTaskSpecification::execute()
{
    expectedSha256 = DeltaList::digestInIni(
        configuration->tempDir + QLatin1Char('/') + configuration->clientType
        + QStringLiteral(".ini"));
    if (expectedSha256.isEmpty()) {
        finish();
        return;
    }
    if (!Sha256Sums::isDigest(expectedSha256)) {
        doWithoutDeltas(QStringLiteral("the product ini names no valid SHA-256 for it"));
        return;
    }
    if (QFile::exists(listPath()) && listIsGood()) {
        finish();
        return;
    }
    const QString remotePath = configuration->clientType + QStringLiteral(".ini")
        + QLatin1String(DeltaList::suffix);
    download = new DownloadTaskSpecification(
        networkManager, mirrors, remotePath, listPath(), -1, this, 1.0);
    download->unknownSizeLimit = DeltaList::maxFileSize;
    download->sameMirrorAs = iniStep ? iniStep->iniDownload() : nullptr;
    download->mayBeAbsent = true;
    addSubTask(download);
    state = TaskRunning;
    executeSubTasks();
}

void DeltaListDownloadTaskSpecification::reset()
{
    clearSubTasks();
    download = nullptr;
    ComposedTaskSpecification::reset();
}

void DeltaListDownloadTaskSpecification::subtasksDone()
{
    if (userCancelRequested) {
        ComposedTaskSpecification::subtasksDone();
        return;
    }
    if (getStateFromSubTasks() == TaskErrorCanceled)
        doWithoutDeltas(QStringLiteral("no mirror served it"));
    else if (download->absent)
        doWithoutDeltas(QStringLiteral("it is not on the mirror"));
    else if (!listIsGood())
        doWithoutDeltas(QStringLiteral("it does not match the product ini"));
    else
        finish();
}

void DeltaListDownloadTaskSpecification::doWithoutDeltas(const QString& reason)
{
    QFile::remove(listPath());
    emit message(QStringLiteral("No deltas: the delta list could not be used (%1); downloading "
                                "whole files")
                     .arg(reason));
    finish();
}
