#pragma once

#include <QString>

// The record of the running update session: the group "current" of update.ini in the
// installation root (version, session directory, client type). Static operations only; each
// opens the file anew and writes its changes back before it returns. Errors are not reported: an
// unreadable file reads as no record, a failed write goes unnoticed.
class UpdateIniData
{
public:
    // Absolute path of update.ini in the installation root.
    static QString filename();

    // True when a valid record exists: a decimal "version", a non-empty "type" and a "dir" that
    // exists. Only then are the non-null outputs written.
    static bool get(qint32* version, QString* type, QString* dir);
    // Note the argument order: the directory comes before the type.
    static void modify(qint32 version, const QString& dir, const QString& type);
    // Removes the record; the other groups of the file stay.
    static void cleanup();
    // Deletes the temporary files ("update.ini." and six letters or digits, regular files of this
    // user) that a writer of update.ini killed before it renamed them into place left in the
    // installation root. Skipped while a live writer holds the file's lock. Only while the
    // installation lock is held: the updater's own writes cannot be running then.
    static void removeWriterLeftovers();
};
