#include "downloadfilelisttaskspecification.h"

#include "configuration.h"
#include "downloadfiletaskspecification.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

DownloadFileListTaskSpecification::DownloadFileListTaskSpecification(
    QList<FileDownloadSpecification>* list, QNetworkAccessManager* manager, Mirrors* mirrors,
    Configuration* configuration, QObject* parent, double progressRange)
    // At least one stream, or nothing would ever start.
    : ComposedTaskSpecification(qMax(1, configuration->downloadStreams), progressRange, parent)
    , downloadList(list)
    , networkManager(manager)
    , mirrors(mirrors)
    , configuration(configuration)
{
}

void DownloadFileListTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void DownloadFileListTaskSpecification::reset()
{
    clearSubTasks();
    totalBytes = 0;
    ComposedTaskSpecification::reset();
}

bool DownloadFileListTaskSpecification::makeSubDirs()
{
    const QDir tempDir(configuration->tempDir);
    QSet<QString> made { QStringLiteral(".") };
    for (const FileDownloadSpecification& file : std::as_const(*downloadList)) {
        const QString dir = QFileInfo(file.fileName).path();
        if (made.contains(dir))
            continue;
        if (!tempDir.mkpath(dir)) {
            // The directory does not exist, so it has no canonical path to show.
            emit message(QStringLiteral("Could not create dir %1")
                             .arg(QDir::cleanPath(tempDir.absoluteFilePath(dir))));
            errorCancel();
            return false;
        }
        made.insert(dir);
    }
    return true;
}

void DownloadFileListTaskSpecification::makeSubtasksAndStart()
{
    if (downloadList->isEmpty()) {
        emit message(QStringLiteral("No downloads needed"));
        finish();
        return;
    }
    if (!makeSubDirs())
        return;
    emit message(QStringLiteral("Downloading files"));
    const double share = 1.0 / double(downloadList->size());
    for (const FileDownloadSpecification& file : std::as_const(*downloadList)) {
        addSubTask(new DownloadFileTaskSpecification(
            file, networkManager, mirrors, configuration, this, share));
        totalBytes += qint64(file.size);
    }
    state = TaskRunning;
    executeSubTasks();
}

void DownloadFileListTaskSpecification::timeTick(
    quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick, bool& downloading)
{
    ComposedTaskSpecification::timeTick(bytesDone, bytesTotal, bytesSinceLastTick, downloading);
    bytesTotal = quint64(totalBytes);
}
