#pragma once

#include <QString>

// Rules for the relative paths a product ini names. Its keys and sections become paths below
// the installation root, the session directory and the mirror's version folder, so a name that
// could leave them (absolute, or with "." or ".." components) must never reach the disk; and
// since a symbolic link on the way could still lead elsewhere, where a path really leads is
// looked up on the disk too.
class PlanPathCheck
{
public:
    // A non-empty relative path without backslashes or control characters, none of whose
    // components is empty, "." or "..".
    static bool isContained(const QString& path);
    // As isContained, but a single leading ".." is allowed (files one level above the root).
    static bool isContainedOrOneUp(const QString& path);

    // Where the absolute path really leads: its deepest part that exists, with every symbolic
    // link resolved, followed by the rest, which a write would create as real directories.
    // Empty when a link on the way points nowhere, since what a write through it would create
    // is unknown.
    static QString realPath(const QString& absolutePath);
    // Whether the real path is the real folder or lies below it; never for an empty folder.
    static bool isWithin(const QString& realPath, const QString& realFolder);
};
