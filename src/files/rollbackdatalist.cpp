#include "rollbackdatalist.h"

#include "rollbackjournalfile.h"

bool RollbackDataList::writeAhead(const RollbackData& entry, QObject* reporter)
{
    if (!journalFile || journalFile->append(entry))
        return true;
    RollbackData::message(reporter,
        QStringLiteral("Could not write the rollback journal %1").arg(journalFile->errorString()));
    return false;
}

void RollbackDataList::add(const RollbackData& entry)
{
    entries.append(entry);
}

void RollbackDataList::appendList(const RollbackDataList& other)
{
    entries.append(other.entries);
}

bool RollbackDataList::rollback(QObject* reporter)
{
    bool ok = true;
    while (!entries.isEmpty()) {
        // Taken off before the undo so that no entry is ever undone twice.
        const RollbackData entry = entries.takeLast();
        if (!entry.rollback(reporter))
            ok = false;
    }
    return ok;
}

void RollbackDataList::clear()
{
    entries.clear();
}
