#include "sidecardownloadtaskspecification.h"

#include "configuration.h"
#include "downloadtaskspecification.h"
#include "inidownloadtaskspecification.h"

SidecarDownloadTaskSpecification::SidecarDownloadTaskSpecification(
    QNetworkAccessManager* manager, Mirrors* mirrors, Configuration* configuration,
    const IniDownloadTaskSpecification* iniDownload, const char* suffix, qint64 sizeLimit,
    QObject* parent, double progressRange)
    : ComposedTaskSpecification(1, progressRange, parent)
    , networkManager(manager)
    , mirrors(mirrors)
    , configuration(configuration)
    , iniStep(iniDownload)
    , suffix(QLatin1String(suffix))
    , sizeLimit(sizeLimit)
{
}

QString SidecarDownloadTaskSpecification::iniPath() const
{
    return configuration->tempDir + QLatin1Char('/') + configuration->clientType
        + QStringLiteral(".ini");
}

QString SidecarDownloadTaskSpecification::sidecarPath() const
{
    return iniPath() + suffix;
}

void SidecarDownloadTaskSpecification::reset()
{
    clearSubTasks();
    download = nullptr;
    ComposedTaskSpecification::reset();
}

void SidecarDownloadTaskSpecification::addDownload(bool mayBeAbsent)
{
    const QString remotePath = configuration->clientType + QStringLiteral(".ini") + suffix;
    download = new DownloadTaskSpecification(
        networkManager, mirrors, remotePath, sidecarPath(), -1, this, 1.0);
    download->unknownSizeLimit = sizeLimit;
    download->sameMirrorAs = iniStep ? iniStep->iniDownload() : nullptr;
    download->mayBeAbsent = mayBeAbsent;
    addSubTask(download);
    state = TaskRunning;
}
