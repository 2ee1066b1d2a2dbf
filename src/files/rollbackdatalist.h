#pragma once

#include "rollbackdata.h"

#include <QList>

class RollbackJournalFile;

// The journal of a replacement, oldest entry first; appendList copies entries only. Not shared
// between threads: entries are added and undone on the main thread only.
//
// Every undone entry is marked undone in the journal file (synced) before the next one is
// undone, and so is every entry whose operation failed: a journal replayed after a crash in
// the middle of an undo, or after an undo that already happened, never undoes a step twice.
// Undoing a step twice is what loses files: a restored name looks exactly like a new file put
// in place, and undoing that "rename" again moves the restored file away for deletion.
struct RollbackDataList
{
    QList<RollbackData> entries;
    // The journal on disk that mirrors this one, not owned; null when there is none.
    RollbackJournalFile* journalFile = nullptr;

    // Writes the entry to the journal file before its operation takes effect and gives it its
    // number there; the entry joins entries (add) only after the operation has succeeded. A
    // failure is reported through reporter and the operation must not be done. True when there
    // is no journal file.
    bool writeAhead(RollbackData& entry, QObject* reporter);
    // The same for entries whose operations follow one another, in one write.
    bool writeAhead(const QList<RollbackData*>& entries, QObject* reporter);
    // The operation of an entry written ahead failed: it is marked in the journal as never
    // having taken effect.
    void forget(const RollbackData& entry, QObject* reporter);

    void add(const RollbackData& entry);
    void appendList(const RollbackDataList& other);
    // Undoes every entry of this run, newest first, each exactly once, and leaves the list
    // empty even when a step failed; false when any step failed (each failure is reported as a
    // warning).
    bool rollback(QObject* reporter);
    // The same for entries read back from the journal of a killed run, whose operations may not
    // have taken effect: each step looks at the disk first.
    bool undoInterrupted(QObject* reporter);
    // Forgets the entries without undoing them.
    void clear();

private:
    bool undo(bool readBack, QObject* reporter);
    // The entry that kept the installed file aside for the one that put a new file in its
    // place (install): the entry right before it, or -1.
    qsizetype keptAsideFor(const RollbackData& install) const;
    // For a read-back journal: the left-over copy that had to leave the kept-aside name first
    // never left it, so the replacement that follows it never began.
    bool leftOverStillInPlace(const RollbackData& keptAside) const;
    // Undoes (and takes off) the creation of the temporary file a replacement put in place.
    bool undoCreation(const QString& path, QObject* reporter);
    void markUndone(const RollbackData& entry, QObject* reporter);
};
