#pragma once

#include "asyncfunc.h"

// The worker side of a slow file operation. Runs on a pool thread and touches only its own two
// paths; it must leave no partly written destination behind when it fails.
class SlowFileOpFunc : public ASyncFunc
{
    Q_OBJECT
public:
    SlowFileOpFunc(const QString& sourcePath, const QString& destinationPath);

    QString sourcePath;
    QString destinationPath;
};
