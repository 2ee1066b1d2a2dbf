#pragma once

#include <QString>

// Rules for the relative paths a product ini names. Its keys and sections become paths below
// the installation root, the session directory and the mirror's version folder, so a name that
// could leave them (absolute, or with "." or ".." components) must never reach the disk.
class PlanPathCheck
{
public:
    // A non-empty relative path without backslashes or control characters, none of whose
    // components is empty, "." or "..".
    static bool isContained(const QString& path);
    // As isContained, but a single leading ".." is allowed (files one level above the root).
    static bool isContainedOrOneUp(const QString& path);
};
