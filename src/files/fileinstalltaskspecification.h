#pragma once

#include "fastfileoptaskspecification.h"

// Puts a complete new file, written under the temporary name newPath beside its destination,
// in place under the name path (the base's path). When there is an installed file, oldPath is
// where it is kept: it is first given that second name by a hard link, then the new file is
// renamed over it, so the installed name always names the old or the new file, never nothing.
// An installed directory cannot be linked: it and the new file swap names in one step, and
// the directory then takes the name oldPath. Where neither is available (some file systems)
// the installed entry is renamed aside instead, and the name is missing for a moment. Each step is journalled as a Rename, written
// ahead; undoing both gives the installed name back its old file. Fails with "Could not
// rename '%1' to '%2'" when a step fails, or when a new file's name is taken meanwhile.
class FileInstallTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT
public:
    FileInstallTaskSpecification(const QString& newPath, const QString& path,
        const QString& oldPath, RollbackDataList* rollbackList, QObject* parent,
        double progressRange);

    QString newPath;
    QString oldPath;

    // The entries the task will journal in the common case, in order, for the journal's plan;
    // written is the identity of the new file, installed what lstat gave for the installed
    // entry (null when there is none).
    static QList<RollbackData> plannedEntries(const QString& newPath, const QString& path,
        const QString& oldPath, const FileIdentity& written, const struct stat* installed);
    bool doOp() override;

private:
    // The installed file keeps its "_old_" name and the new one takes its place.
    bool replaceKeepingOld();
    // The steps of the entries, which are in the journal already.
    bool keepOldAside(const RollbackData& entry);
    bool putInPlace(const RollbackData& entry);
    bool swapWithDirectory();
    bool fail(const RollbackData& entry);
};
