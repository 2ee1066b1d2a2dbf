#pragma once

#include "filelock.h"

#include <QString>

// Keeps a second updater off this installation for the whole run: without it, the second one's
// start would take the first one's live replacement for a killed run and undo it. The lock is
// "update.lock" in the installation root (see FileLock: never stale). Taken by start-up before
// anything touches the installation and held until the object is destroyed, which removes the
// file; only a killed run leaves it, empty, for the next one to take over. Main thread only.
class InstallationLock
{
public:
    InstallationLock();

    // True when this process now holds the installation. Otherwise it has said why (unattended:
    // on standard error; else in an "Error" box the user confirms), and the program must end
    // with exit code 1 without touching the installation.
    bool acquire();
    static QString fileName();

private:
    FileLock lock;
};
