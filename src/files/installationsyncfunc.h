#pragma once

#include "asyncfunc.h"

// Flushes the file system that holds the installation to disk. Runs on a worker thread; on
// failure it reports the reason through message() and returns false.
class InstallationSyncFunc : public ASyncFunc
{
    Q_OBJECT
public:
    explicit InstallationSyncFunc(const QString& rootPath);

    bool run() override;

private:
    QString rootPath;
};
