#pragma once

#include <QString>

class QObject;

// One journal entry: how to undo a file operation that has succeeded. Plain copyable record.
// rollback() runs on the thread that owns the reporter (the main thread); failures are reported
// through the reporter's message(QString) signal, invoked by name.
struct RollbackData
{
    enum Operation { Rename = 0, CreateFile = 1, CreateDir = 2 };

    // For CreateFile and CreateDir.
    RollbackData(Operation operation, const QString& path);
    // For Rename, with the two names in the order of the rename (from was renamed to to).
    RollbackData(Operation operation, const QString& from, const QString& to);

    QString path;
    QString previousPath;
    Operation operation;

    // Undoes an operation that has taken effect.
    bool rollback(QObject* reporter) const;
    // Undoes an entry read back from the journal file after a killed run, whose operation may
    // not have taken effect (entries are written before their operations) or may have been
    // undone already: it acts only when the disk shows the operation's result.
    bool undoIfDone(QObject* reporter) const;
    static void message(QObject* reporter, const QString& text);
};
