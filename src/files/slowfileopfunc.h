#pragma once

#include "asyncfunc.h"

// The worker side of a slow file operation. Runs on a pool thread and touches only its own two
// paths; it must leave no partly written destination behind when it fails. The destination is
// created with the permission bits `permissions` (not masked by the umask).
class SlowFileOpFunc : public ASyncFunc
{
    Q_OBJECT
public:
    SlowFileOpFunc(const QString& sourcePath, const QString& destinationPath, int permissions);

    QString sourcePath;
    QString destinationPath;
    int permissions;
};
