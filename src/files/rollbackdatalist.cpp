#include "rollbackdatalist.h"

#include "pathstat.h"
#include "rollbackjournalfile.h"

bool RollbackDataList::writeAhead(RollbackData& entry, QObject* reporter)
{
    return writeAhead(QList<RollbackData*> { &entry }, reporter);
}

bool RollbackDataList::writeAhead(const QList<RollbackData*>& entries, QObject* reporter)
{
    if (!journalFile || journalFile->append(entries))
        return true;
    RollbackData::message(reporter,
        QStringLiteral("Could not write the rollback journal %1").arg(journalFile->errorString()));
    return false;
}

void RollbackDataList::forget(const RollbackData& entry, QObject* reporter)
{
    markUndone(entry, reporter);
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
    return undo(false, reporter);
}

bool RollbackDataList::undoInterrupted(QObject* reporter)
{
    return undo(true, reporter);
}

bool RollbackDataList::undo(bool readBack, QObject* reporter)
{
    bool ok = true;
    while (!entries.isEmpty()) {
        // Taken off before the undo so that no entry is ever undone twice.
        const RollbackData entry = entries.takeLast();
        const qsizetype aside = keptAsideFor(entry);
        if (aside >= 0) {
            const RollbackData keptAside = entries.takeAt(aside);
            if (readBack && leftOverStillInPlace(keptAside)) {
                // The kept name still holds the left-over copy: neither step took effect, and
                // undoing them would put that copy over the installed file.
                markUndone(entry, reporter);
                markUndone(keptAside, reporter);
                ok = undoCreation(entry.previousPath, reporter) && ok;
            } else if (RollbackData::undoReplacement(entry, keptAside, readBack, reporter)) {
                markUndone(entry, reporter);
                markUndone(keptAside, reporter);
                ok = undoCreation(entry.previousPath, reporter) && ok;
            } else {
                ok = false;
            }
            continue;
        }
        if (readBack ? entry.undoIfDone(reporter) : entry.rollback(reporter))
            markUndone(entry, reporter);
        else
            ok = false;
    }
    return ok;
}

// A left-over "_old_" copy is moved out of the way before the installed file takes that name;
// when the move is journalled but its target is not there, the move never happened (or was
// undone), and so did nothing that came after it.
bool RollbackDataList::leftOverStillInPlace(const RollbackData& keptAside) const
{
    for (qsizetype i = entries.size() - 1; i >= 0; --i) {
        const RollbackData& moved = entries.at(i);
        if (moved.operation == RollbackData::Rename && moved.previousPath == keptAside.path)
            return !PathStat::exists(moved.path);
    }
    return false;
}

bool RollbackDataList::undoCreation(const QString& path, QObject* reporter)
{
    for (qsizetype i = entries.size() - 1; i >= 0; --i) {
        if (entries.at(i).operation == RollbackData::CreateFile && entries.at(i).path == path) {
            const RollbackData created = entries.takeAt(i);
            // Gone when the new file had taken the installed name: the undo replaced it.
            if (!created.undoIfDone(reporter))
                return false;
            markUndone(created, reporter);
            return true;
        }
    }
    return true;
}

// The two are written one right after the other by one operation, which no other entry can come
// between; a rename of the same name further back belongs to something else (a left-over copy
// moved out of the way).
qsizetype RollbackDataList::keptAsideFor(const RollbackData& install) const
{
    if (install.operation != RollbackData::Rename || entries.isEmpty())
        return -1;
    const RollbackData& previous = entries.last();
    return previous.operation == RollbackData::Rename && previous.previousPath == install.path
        ? entries.size() - 1
        : -1;
}

// A mark that cannot be written (a full disk) does not stop the undo: the pairing of each
// replacement with its kept copy makes a replay safe as well, and the journal goes once the
// undo is complete.
void RollbackDataList::markUndone(const RollbackData& entry, QObject* reporter)
{
    if (!journalFile || entry.journalIndex == 0 || journalFile->markUndone(entry.journalIndex))
        return;
    RollbackData::message(reporter,
        QStringLiteral("warning: could not record the undo in the rollback journal %1")
            .arg(journalFile->errorString()));
}

void RollbackDataList::clear()
{
    entries.clear();
}
