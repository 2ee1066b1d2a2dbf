#include "downloadfilelisttaskspecification.h"

#include "configuration.h"
#include "downloadfiletaskspecification.h"
#include "planwork.h"

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
    // Each file's share is its part of the work, so one large file among many small ones does
    // not leave the bar standing while it downloads.
    double work = 0.0;
    for (const FileDownloadSpecification& file : std::as_const(*downloadList))
        work += PlanWork::download(file);
    QSet<QString> taken = sessionNames();
    for (const FileDownloadSpecification& file : std::as_const(*downloadList)) {
        auto* task = new DownloadFileTaskSpecification(
            file, networkManager, mirrors, configuration, this, PlanWork::download(file) / work);
        if (file.md5.isEmpty())
            task->signatureName = privateSignatureName(file.fileName, taken);
        addSubTask(task);
    }
    state = TaskRunning;
    executeSubTasks();
}

// Every name below tempDir that a file of the list occupies, as a file or as a directory on its
// path; lower case, since macOS file systems ignore case.
QSet<QString> DownloadFileListTaskSpecification::sessionNames() const
{
    QSet<QString> names;
    for (const FileDownloadSpecification& file : std::as_const(*downloadList)) {
        const QStringList parts = file.fileName.toLower().split(QLatin1Char('/'));
        for (int i = 1; i <= parts.size(); ++i)
            names.insert(parts.mid(0, i).join(QLatin1Char('/')));
    }
    return names;
}

// The ".sig" beside the file, unless another file of the list is that ".sig" (or lies below
// it): the two tasks run at the same time and would write one file. Then a name that nothing
// else in the list uses.
QString DownloadFileListTaskSpecification::privateSignatureName(
    const QString& fileName, QSet<QString>& taken)
{
    QString name = fileName + QStringLiteral(".sig");
    for (int n = 1; taken.contains(name.toLower()); ++n)
        name = fileName + QStringLiteral(".sig.check%1").arg(n);
    // Also keeps two signature-checked files whose names differ in case only apart.
    taken.insert(name.toLower());
    return name;
}

void DownloadFileListTaskSpecification::timeTick(
    quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick, bool& downloading)
{
    ComposedTaskSpecification::timeTick(bytesDone, bytesTotal, bytesSinceLastTick, downloading);
    // Tasks not yet started count too; a delta that falls back adds its file's size.
    totalBytes = 0;
    for (const TaskSpecification* task : std::as_const(subTasks))
        totalBytes += static_cast<const DownloadFileTaskSpecification*>(task)->plannedBytes();
    bytesTotal = quint64(totalBytes);
}
