#pragma once

#include "composedtaskspecification.h"
#include "filereplacespecification.h"
#include "rollbackdatalist.h"
#include "rollbackjournalfile.h"

#include <QHash>
#include <QStringList>

class Configuration;
class StatCache;

// Applies the plan's replace list: first creates the missing directories (moving a file in the
// way of one aside, as a replaced file is), then replaces the files, two at a time, then
// flushes the installation and commits the journal, one after the other. Every step is decided
// before the first one, and the journal file starts with all of them. Every completed step
// ends up in one journal (directories first, then each completed file in order of completion).
// When anything fails or is cancelled before the commit (the flush and the commit included),
// the whole journal is undone, newest first, before the task ends; once committed the update is
// done and only the delete step is left. The journal is mirrored in the journal file of the
// installation root, which the task creates before the first operation (refusing to start while
// one of an interrupted run is there) and removes after a complete undo; after a success the
// delete step removes it. The lists are read when the task executes; they and the
// configuration must outlive the task. Runs on the main thread. A failure before the commit
// is also an error that gives the failed step's last message, its reason.
class FileReplaceListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    FileReplaceListTaskSpecification(QList<FileReplaceSpecification>* replaceList,
        QList<QString>* deleteList, StatCache* statCache, Configuration* configuration,
        QObject* parent, double progressRange);

    QList<FileReplaceSpecification>* replaceList;
    QList<QString>* deleteList;
    // Learns the files written once the update is committed; may be null.
    StatCache* statCache;
    RollbackDataList rollbackList;
    RollbackJournalFile journalFile;
    Configuration* configuration;
    // Files moved aside for a directory of the new version; deleted after a success.
    QStringList movedAside;
    // The flush and the commit have been added: the files are all in place.
    bool committing = false;
    // The journal's commit stands: the update is done.
    bool committed = false;

    void execute() override;
    void reset() override;
    void subtasksDone() override;

    void makeSubtasksAndStart();
    // Both add the entries their tasks will journal to plan.
    int makeSubdirTasks(QList<RollbackData>& plan);
    void makeFileReplaceTasks(bool directoriesAdded, QList<RollbackData>& plan);

private:
    // The last message of each step.
    QHash<const TaskSpecification*, QString> lastMessages;
    // The first step that ended cancelled.
    const TaskSpecification* failedStep = nullptr;

    void addStep(TaskSpecification* step);
    // The last message of the first step that failed.
    QString failureReason() const;
    void commit();
    void rememberWrittenFiles();
    void undo();
};
