#pragma once

#include "asyncfunc.h"

#include <QList>

class Configuration;
class QSettings;
struct FileSpecifications;

// Builds the update plan from the product ini in the session directory: compares every listed
// file with the installed copy and with a download left by an earlier run. Runs on a pool
// thread; reads the configuration and the disk and writes only the plan it was given. The whole
// ini is read and checked before any file is, so a bad line costs no hashing; so is where each
// name really leads, and a symbolic link that takes a file out of the installation (or a
// download out of the session directory) refuses the whole plan. The files are then
// checked on a pool of its own, several at a time, while the plan, the progress (once per key)
// and the lists keep the order of the ini. A download keeps the delta the release lists for it
// only when the installed file is that delta's base. On failure the plan must not be used.
class MakeDownloadReplaceListFunc : public ASyncFunc
{
    Q_OBJECT
public:
    MakeDownloadReplaceListFunc(Configuration* configuration, FileSpecifications& plan);

    bool run() override;
    static int getFileCount(QSettings& settings);

private:
    struct Entry;

    bool refuseEscapes(const QString& iniPath);
    bool readEntries(QSettings& settings, QList<Entry>& entries);
    bool readDeleteSection(QSettings& settings, QList<Entry>& entries);
    bool readFileSection(QSettings& settings, const QString& section, QList<Entry>& entries);
    bool attachFileList(const QString& iniPath, QList<Entry>& entries);
    void attachDeltas(const QString& iniPath, QList<Entry>& entries);
    bool refuseLinksOut(QList<Entry>& entries);
    bool refuseCollisions(QList<Entry>& entries);
    void checkEntries(const QList<Entry>& entries, int total);
    void leaveSignaturesToTheirFiles();
    void reportUnsafePath(const QString& path, const QString& section);
    void reportLinkOut(const QString& path, const QString& section, const QString& realPath,
        const QString& folder);

    Configuration* configuration;
    FileSpecifications& plan;
};
