#include "fastfileoptaskspecification.h"

#include "rollbackdatalist.h"

FastFileOpTaskSpecification::FastFileOpTaskSpecification(
    const QString& path, RollbackDataList* rollbackList, QObject* parent, double progressRange)
    : TaskSpecification(parent, progressRange)
    , rollbackList(rollbackList)
    , path(path)
{
}

void FastFileOpTaskSpecification::execute()
{
    state = TaskRunning;
    if (doOp())
        finish();
    else
        errorCancel();
}

bool FastFileOpTaskSpecification::writeAhead(RollbackData& entry)
{
    return !rollbackList || rollbackList->writeAhead(entry, this);
}

void FastFileOpTaskSpecification::addRollbackOp(const RollbackData& entry)
{
    if (rollbackList)
        rollbackList->add(entry);
}

void FastFileOpTaskSpecification::forgetRollbackOp(const RollbackData& entry)
{
    if (rollbackList)
        rollbackList->forget(entry, this);
}
