#pragma once

#include "rollbackdata.h"

#include <QList>

// The journal of a replacement, oldest entry first. Not shared between threads: entries are
// added and undone on the main thread only.
struct RollbackDataList
{
    QList<RollbackData> entries;

    void add(const RollbackData& entry);
    void appendList(const RollbackDataList& other);
    // Undoes every entry, newest first, each exactly once, and leaves the journal empty even
    // when a step failed; false when any step failed (each failure is reported as a warning).
    bool rollback(QObject* reporter);
    // Forgets the entries without undoing them.
    void clear();
};
