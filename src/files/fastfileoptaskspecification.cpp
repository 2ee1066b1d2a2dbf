#include "fastfileoptaskspecification.h"

#include "rollbackdatalist.h"

#include <QFile>

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

bool FastFileOpTaskSpecification::writeAhead(const QList<RollbackData*>& entries)
{
    return !rollbackList || rollbackList->writeAhead(entries, this);
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

bool FastFileOpTaskSpecification::journalledRename(const QString& from, const QString& to)
{
    RollbackData entry(RollbackData::Rename, from, to);
    if (!writeAhead(entry))
        return false;
    if (!QFile::rename(from, to)) {
        forgetRollbackOp(entry);
        emit message(QStringLiteral("Could not rename '%1' to '%2'").arg(from, to));
        return false;
    }
    addRollbackOp(entry);
    return true;
}
