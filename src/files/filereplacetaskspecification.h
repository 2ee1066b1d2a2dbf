#pragma once

#include "composedtaskspecification.h"
#include "filereplacespecification.h"
#include "rollbackdatalist.h"

class Configuration;

// Adds or replaces one installed file from the session directory, one step at a time: move a
// left-over "_old_" copy out of the way under a unique name, copy (or unpack and check) the new
// file to a temporary name beside the destination with its final mode, then put it in place
// while the installed copy keeps its "_old_" name (FileInstallTaskSpecification). The final
// mode is 0755 for the files the executable rule selects, else the installed file's (0644 for
// a new file). Every step is journalled in the task's own journal, which writes ahead to the
// parent's journal file. On success the journal is appended to the parent's and the "_old_"
// name (except for the special files) and the left-over copy to the delete list; on failure or
// cancel the task undoes its own journal before it ends. Runs on the main thread; the lists,
// the parent's journal and the configuration must outlive the task.
class FileReplaceTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    FileReplaceTaskSpecification(const FileReplaceSpecification& specification,
        QList<QString>* deleteList, RollbackDataList* parentRollbackList,
        Configuration* configuration, QObject* parent, double progressRange);

    FileReplaceSpecification specification;
    QList<QString>* deleteList;
    RollbackDataList* parentRollbackList;
    RollbackDataList rollbackList;
    Configuration* configuration;
    bool replacedExisting = false;
    // Where a left-over "_old_" copy was moved; empty when there was none.
    QString leftOverCopy;

    void execute() override;
    void reset() override;
    void subtasksDone() override;

    // Decides the names and steps of the replacement and makes its subtasks; returns the
    // entries they will journal, in order, for the journal's plan. Done when the task starts,
    // unless the parent's plan did it already.
    QList<RollbackData> prepare();
    void makeSubtasksAndStart();
    // The executable rule: the file names and the complete suffix that get mode 0755.
    static bool isExecutableByRule(const QString& path);
    static void makeSingleFileExecutable(const QString& path);
    // A name beside path that nothing has: path with a random suffix.
    static QString unusedName(const QString& path);
};
