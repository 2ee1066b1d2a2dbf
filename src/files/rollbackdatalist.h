#pragma once

#include "rollbackdata.h"

#include <QList>

class RollbackJournalFile;

// The journal of a replacement, oldest entry first; appendList copies entries only. Not shared
// between threads: entries are added and undone on the main thread only.
struct RollbackDataList
{
    QList<RollbackData> entries;
    // The journal on disk that mirrors this one, not owned; null when there is none.
    RollbackJournalFile* journalFile = nullptr;

    // Writes the entry to the journal file before its operation takes effect; the entry joins
    // entries (add) only after the operation has succeeded. A failure is reported through
    // reporter and the operation must not be done. True when there is no journal file.
    bool writeAhead(const RollbackData& entry, QObject* reporter);

    void add(const RollbackData& entry);
    void appendList(const RollbackDataList& other);
    // Undoes every entry, newest first, each exactly once, and leaves the journal empty even
    // when a step failed; false when any step failed (each failure is reported as a warning).
    bool rollback(QObject* reporter);
    // Forgets the entries without undoing them.
    void clear();
};
