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
};
