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

    bool rollback(QObject* reporter) const;
    static void message(QObject* reporter, const QString& text);
};
