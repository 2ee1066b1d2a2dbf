#pragma once

#include <QString>

class Configuration;
class InstalledRecord;

// Whether the target of a run may be installed at all. Whoever named the target (the update
// server, the client through the temporary-arguments file, a person on the command line), an
// older version than the one installed would bring back whatever the newer one fixed; so would
// a version below the oldest one this build was made to install. The same version stays allowed:
// it repairs the installation.
class TargetVersionCheck
{
public:
    // The build's floor; 0 when there is none.
    static qint32 minimumVersion();
    // Empty when the configuration's target may be installed over what the record says is
    // installed; otherwise the log line that says why nothing is installed. Only the person at the
    // command line may go below the installed version (allowDowngrade), never below the floor.
    static QString refusal(const Configuration& configuration, const InstalledRecord& installed);
};
