#include "filedeletelisttaskspecification.h"

#include "configuration.h"
#include "filedeletetaskspecification.h"
#include "pathstat.h"
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
        // The update stands either way; an old file left in it is deleted by the next start,
        // which completes the committed journal, so the journal stays while one is left.
        bool allGone = true;
        for (const QString& entry : std::as_const(*deleteList)) {
            const QString left = Configuration::getAppRootFilePath(entry);
            if (!PathStat::exists(left))
                continue;
            allGone = false;
            emit message(QStringLiteral("warning: Could not delete '%1'; the next start tries again")
                             .arg(left));
        }
        RollbackJournalFile journal(Configuration::getAppRootPath());
        if (allGone && !journal.remove())
            emit message(QStringLiteral("warning: %1").arg(journal.errorString()));
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileDeleteListTaskSpecification::reset()
{
    clearSubTasks();
    ComposedTaskSpecification::reset();
}
