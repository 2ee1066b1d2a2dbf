#pragma once

#include "fileidentity.h"

#include <QString>

class QObject;

// One journal entry: how to undo a file operation that has succeeded. Plain copyable record.
// rollback() runs on the thread that owns the reporter (the main thread); failures are reported
// through the reporter's message(QString) signal, invoked by name.
struct RollbackData
{
    enum Operation { Rename = 0, CreateFile = 1, CreateDir = 2, Exchange = 3 };

    // For CreateFile and CreateDir.
    RollbackData(Operation operation, const QString& path);
    // For Rename, with the two names in the order of the rename (from was renamed to to). For
    // Exchange, from is the name that was a directory before the two were swapped, to the other
    // one: the kinds on disk tell whether the swap took effect.
    RollbackData(Operation operation, const QString& from, const QString& to);

    QString path;
    QString previousPath;
    Operation operation;
    // Its number in the journal file (1 for the first entry); 0 while it is in none.
    int journalIndex = 0;
    // For Rename, the entry that moves (found at path once it has moved); for Exchange, the one
    // that was at path before the swap (found at previousPath after it). Known for entries
    // planned ahead, whose undo after a killed run acts only on what provably is theirs.
    FileIdentity moved;

    // Undoes an operation that has taken effect.
    bool rollback(QObject* reporter) const;
    // Undoes an entry read back from the journal file after a killed run, whose operation may
    // not have taken effect (entries are written before their operations) or may have been
    // undone already: it acts only when the disk shows the operation's result (with a known
    // identity: only when the entry moved is found where the operation put it).
    bool undoIfDone(QObject* reporter) const;
    // Undoes a file put in place over an installed one (install: the temporary name renamed to
    // the installed name) together with the step that kept the installed file aside (keptAside:
    // the installed name linked or renamed to its "_old_" name), in one rename of the kept copy
    // over the installed name where it can, so the name never goes missing. readBack as for
    // undoIfDone: a kept copy that is not there means neither step took effect (or both were
    // undone); in a run's own undo it means someone removed it, and the new file stays. Read
    // back with a known identity, a kept name that holds anything but the installed file is
    // left alone: the installed file never went there.
    static bool undoReplacement(
        const RollbackData& install, const RollbackData& keptAside, bool readBack, QObject* reporter);
    static void message(QObject* reporter, const QString& text);
};
