#pragma once

#include "composedtaskspecification.h"
#include "filereplacespecification.h"
#include "rollbackdatalist.h"
#include "rollbackjournalfile.h"

#include <QStringList>

class Configuration;

// Applies the plan's replace list: first creates the missing directories (moving a file in the
// way of one aside, as a replaced file is), then replaces the files, two at a time. Every
// completed step ends up in one journal (directories first, then each completed file in order
// of completion). When anything fails or is cancelled, the whole journal is undone, newest
// first, before the task ends. The journal is kept after a success, so a reset() reverts a
// completed replacement. The journal is mirrored in the journal file of the installation root,
// which the task creates before the first operation (refusing to start while one of an
// interrupted run is there) and removes after an undo; after a success the delete step commits
// and removes it. The lists are read when the task executes; they and the configuration must
// outlive the task. Runs on the main thread.
class FileReplaceListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    FileReplaceListTaskSpecification(QList<FileReplaceSpecification>* replaceList,
        QList<QString>* deleteList, Configuration* configuration, QObject* parent,
        double progressRange);

    QList<FileReplaceSpecification>* replaceList;
    QList<QString>* deleteList;
    RollbackDataList rollbackList;
    RollbackJournalFile journalFile;
    Configuration* configuration;
    // Files moved aside for a directory of the new version; deleted after a success.
    QStringList movedAside;

    void execute() override;
    void reset() override;
    void subtasksDone() override;

    void makeSubtasksAndStart();
    int makeSubdirTasks();
    void makeFileReplaceTasks(bool directoriesAdded);

private:
    void undo();
};
