#pragma once

#include "slowfileopfunc.h"

// Copies sourcePath to a new file destinationPath with the given permission bits. Never
// touches an existing destination: the copy fails when one exists. On any other failure the
// partly written destination, which the copy itself created, is removed again.
class FileCopyFunc : public SlowFileOpFunc
{
    Q_OBJECT
public:
    FileCopyFunc(const QString& sourcePath, const QString& destinationPath, int permissions);

    bool run() override;
};
