#include "filedeletelisttaskspecification.h"

#include "configuration.h"
#include "filedeletetaskspecification.h"
#include "installationsynctaskspecification.h"

#include <QDir>
#include <QFileInfo>

FileDeleteListTaskSpecification::FileDeleteListTaskSpecification(
    QList<QString>* deleteList, QObject* parent, double progressRange)
    : ComposedTaskSpecification(1, progressRange, parent)
    , deleteList(deleteList)
{
}

void FileDeleteListTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting deleting files"));
    makeSubtasksAndStart();
}

void FileDeleteListTaskSpecification::makeSubtasksAndStart()
{
    const QDir root(Configuration::getAppRootPath());
    // The copies written by the replacement may still sit in the page cache; the first delete
    // must not come before they are on disk. The flush carries no share of the progress.
    addSubTask(new InstallationSyncTaskSpecification(root.path(), this, 0.0));
    for (const QString& entry : std::as_const(*deleteList))
        addSubTask(new FileDeleteTaskSpecification(
            false, QFileInfo(root, entry).filePath(), this, 1.0 / deleteList->size()));
    state = TaskRunning;
    executeSubTasks();
}

void FileDeleteListTaskSpecification::reset()
{
    clearSubTasks();
    ComposedTaskSpecification::reset();
}
