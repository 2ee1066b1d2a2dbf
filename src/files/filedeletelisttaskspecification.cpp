#include "filedeletelisttaskspecification.h"

#include "configuration.h"
#include "filedeletetaskspecification.h"
#include "rollbackjournalfile.h"

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
    for (const QString& entry : std::as_const(*deleteList))
        addSubTask(new FileDeleteTaskSpecification(
            false, Configuration::getAppRootFilePath(entry), this, 1.0 / deleteList->size()));
    state = TaskRunning;
    executeSubTasks();
}

void FileDeleteListTaskSpecification::subtasksDone()
{
    if (getStateFromSubTasks() == TaskFinished) {
        RollbackJournalFile journal(Configuration::getAppRootPath());
        if (!journal.remove())
            emit message(QStringLiteral("warning: %1").arg(journal.errorString()));
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileDeleteListTaskSpecification::reset()
{
    clearSubTasks();
    ComposedTaskSpecification::reset();
}
