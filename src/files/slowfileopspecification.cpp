#include "slowfileopspecification.h"

#include "rollbackdatalist.h"

SlowFileOpSpecification::SlowFileOpSpecification(const QString& errorMessage,
    RollbackDataList* rollbackList, const QString& sourcePath, const QString& destinationPath,
    QObject* parent, double progressRange)
    : ASyncTaskSpecification(parent, progressRange)
    , rollbackList(rollbackList)
    , sourcePath(sourcePath)
    , destinationPath(destinationPath)
    , errorMessage(errorMessage)
{
}

void SlowFileOpSpecification::execute()
{
    if (!rollbackList
        || rollbackList->writeAhead(
            RollbackData(RollbackData::CreateFile, destinationPath), this)) {
        ASyncTaskSpecification::execute();
        return;
    }
    state = TaskRunning;
    errorCancel();
}

void SlowFileOpSpecification::runDone(bool ok)
{
    // A result that arrives after a reset belongs to a run whose journal is already gone.
    if (state != TaskRunning)
        return;
    if (!ok)
        emit message(errorMessage);
    else if (rollbackList)
        rollbackList->add(RollbackData(RollbackData::CreateFile, destinationPath));
    ASyncTaskSpecification::runDone(ok);
}
