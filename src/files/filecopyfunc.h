#pragma once

#include "slowfileopfunc.h"

// Copies sourcePath to destinationPath; fails when the destination exists. QFile::copy writes
// through a temporary file that it renames at the end, so a failed copy leaves no destination.
class FileCopyFunc : public SlowFileOpFunc
{
    Q_OBJECT
public:
    FileCopyFunc(const QString& sourcePath, const QString& destinationPath);

    bool run() override;
};
