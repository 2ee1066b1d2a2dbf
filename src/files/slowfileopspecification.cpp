#include "slowfileopspecification.h"

#include "asyncfunc.h"
#include "rollbackdatalist.h"

#include <memory>

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
    created = RollbackData(RollbackData::CreateFile, destinationPath);
    if (rollbackList && !rollbackList->writeAhead(created, this)) {
        state = TaskRunning;
        errorCancel();
        return;
    }
    if (!runHere) {
        ASyncTaskSpecification::execute();
        return;
    }
    state = TaskRunning;
    const std::unique_ptr<ASyncFunc> func(createFunction());
    runDone(func->run());
}

void SlowFileOpSpecification::runDone(bool ok)
{
    // A result that arrives after a reset belongs to a run whose journal is already gone.
    if (state != TaskRunning)
        return;
    if (!ok)
        emit message(errorMessage);
    // A failed write has removed what it wrote, and never touches a file it did not create.
    if (rollbackList && ok)
        rollbackList->add(created);
    else if (rollbackList)
        rollbackList->forget(created, this);
    ASyncTaskSpecification::runDone(ok);
}
