#include "filereplacelisttaskspecification.h"

#include "configuration.h"
#include "dircreatetaskspecification.h"
#include "filereplacetaskspecification.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

FileReplaceListTaskSpecification::FileReplaceListTaskSpecification(
    QList<FileReplaceSpecification>* replaceList, QList<QString>* deleteList,
    Configuration* configuration, QObject* parent, double progressRange)
    : ComposedTaskSpecification(2, progressRange, parent)
    , replaceList(replaceList)
    , deleteList(deleteList)
    , journalFile(Configuration::getAppRootPath())
    , configuration(configuration)
{
}

void FileReplaceListTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting file updates"));
    makeSubtasksAndStart();
}

void FileReplaceListTaskSpecification::makeSubtasksAndStart()
{
    state = TaskRunning;
    if (!journalFile.create()) {
        emit message(QStringLiteral("Could not create the rollback journal %1")
                         .arg(journalFile.errorString()));
        errorCancel();
        return;
    }
    rollbackList.journalFile = &journalFile;
    makeFileReplaceTasks(makeSubdirTasks() > 0);
    executeSubTasks();
}

int FileReplaceListTaskSpecification::makeSubdirTasks()
{
    QSet<QString> seen;
    QStringList missing;
    for (const FileReplaceSpecification& entry : std::as_const(*replaceList)) {
        const QString dir
            = QFileInfo(Configuration::getAppRootFilePath(entry.destFileName(QString()))).path();
        if (seen.contains(dir))
            continue;
        seen.insert(dir);
        // A file in the way is handed to the directory task, which reports it clearly.
        if (!QFileInfo(dir).isDir())
            missing.append(dir);
    }
    // Plain string order puts every parent before its children.
    missing.sort();
    for (const QString& dir : std::as_const(missing))
        addSubTask(new DirCreateTaskSpecification(dir, &rollbackList, this, 0.1 / missing.size()));
    return missing.size();
}

void FileReplaceListTaskSpecification::makeFileReplaceTasks(bool directoriesAdded)
{
    if (replaceList->isEmpty())
        return;
    const double weight = (directoriesAdded ? 0.9 : 1.0) / replaceList->size();
    for (const FileReplaceSpecification& entry : std::as_const(*replaceList))
        addSubTask(new FileReplaceTaskSpecification(
            entry, deleteList, &rollbackList, configuration, this, weight));
}

void FileReplaceListTaskSpecification::subtasksDone()
{
    if (getStateFromSubTasks() != TaskFinished) {
        emit message(QStringLiteral("rolling back file updates"));
        undo();
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceListTaskSpecification::reset()
{
    clearSubTasks();
    undo();
    ComposedTaskSpecification::reset();
}

void FileReplaceListTaskSpecification::undo()
{
    rollbackList.rollback(this);
    if (!rollbackList.journalFile)
        return;
    // The installation is the old version again: nothing is left for a recovery to do.
    rollbackList.journalFile = nullptr;
    if (!journalFile.remove())
        emit message(QStringLiteral("warning: %1").arg(journalFile.errorString()));
}
