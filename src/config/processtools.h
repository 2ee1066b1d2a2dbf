#pragma once

#include <QString>

// Starts the client again after an update.
class ProcessTools
{
public:
    // Opens the client bundle (five levels above the executable's directory) with the system's
    // program opener as an independent process; neither waits nor reports a failed start.
    static void startCrvClient();

    // The opener's argument for an executable directory: the canonical path five levels up, with
    // symbolic links resolved before each ".." step; empty when that path does not exist.
    static QString clientBundlePath(const QString& executableDir);
};
