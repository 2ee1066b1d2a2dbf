#pragma once

#include "rollbackdata.h"
#include "taskspecification.h"

struct RollbackDataList;

// A file operation done synchronously on the main thread: execute() has finished or cancelled
// the task when it returns. The operation reports its own failure through message() and
// journals through writeAhead() before and addRollbackOp() only after it succeeded, or
// forgetRollbackOp() when it failed. A null journal records nothing.
class FastFileOpTaskSpecification : public TaskSpecification
{
    Q_OBJECT
public:
    FastFileOpTaskSpecification(
        const QString& path, RollbackDataList* rollbackList, QObject* parent, double progressRange);

    RollbackDataList* rollbackList;
    QString path;

    void execute() override;
    // Writes the entry to the journal file before the operation; false (reported) when that
    // failed, and the operation must then not be done.
    bool writeAhead(RollbackData& entry);
    bool writeAhead(const QList<RollbackData*>& entries);
    void addRollbackOp(const RollbackData& entry);
    void forgetRollbackOp(const RollbackData& entry);
    // Renames under the journal: written ahead, then recorded or forgotten; reports a failure.
    bool journalledRename(const QString& from, const QString& to);
    virtual bool doOp() = 0;
};
