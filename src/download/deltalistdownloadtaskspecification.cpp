#include "deltalistdownloadtaskspecification.h"

#include "deltalist.h"
#include "downloadtaskspecification.h"

#include <QFile>

DeltaListDownloadTaskSpecification::DeltaListDownloadTaskSpecification(
    QNetworkAccessManager* manager, Mirrors* mirrors, Configuration* configuration,
    const IniDownloadTaskSpecification* iniDownload, QObject* parent, double progressRange)
    : SidecarDownloadTaskSpecification(manager, mirrors, configuration, iniDownload,
        DeltaList::suffix, DeltaList::maxFileSize, parent, progressRange)
{
}

bool DeltaListDownloadTaskSpecification::listIsGood() const
{
    return DeltaList().load(sidecarPath(), expectedSha256) == Sha256Sums::Ok;
}

void DeltaListDownloadTaskSpecification::execute()
{
    expectedSha256 = DeltaList::digestInIni(iniPath());
    if (expectedSha256.isEmpty()) {
        finish();
        return;
    }
    if (!Sha256Sums::isDigest(expectedSha256)) {
        doWithoutDeltas(QStringLiteral("the product ini names no valid SHA-256 for it"));
        return;
    }
    if (QFile::exists(sidecarPath()) && listIsGood()) {
        finish();
        return;
    }
    addDownload(true);
    executeSubTasks();
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
    QFile::remove(sidecarPath());
    emit message(QStringLiteral("No deltas: the delta list could not be used (%1); downloading "
                                "whole files")
                     .arg(reason));
    finish();
}
