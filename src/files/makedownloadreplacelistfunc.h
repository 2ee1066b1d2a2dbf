#pragma once

#include "asyncfunc.h"

class Configuration;
class QSettings;
struct FileSpecifications;

// Builds the update plan from the product ini in the session directory: compares every listed
// file with the installed copy and with a download left by an earlier run. Runs on a pool
// thread; reads the configuration and the disk and writes only the plan it was given. On
// failure the plan holds whatever was added so far and must not be used.
class MakeDownloadReplaceListFunc : public ASyncFunc
{
    Q_OBJECT
public:
    MakeDownloadReplaceListFunc(Configuration* configuration, FileSpecifications& plan);

    bool run() override;
    static int getFileCount(QSettings& settings);

private:
    bool addDeleteSection(QSettings& settings, int& counter, int total);
    bool addFileSection(QSettings& settings, const QString& section, int& counter, int total);
    void reportUnsafePath(const QString& path, const QString& section);

    Configuration* configuration;
    FileSpecifications& plan;
};
