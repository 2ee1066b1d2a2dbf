#pragma once

#include "composedtaskspecification.h"
#include "filereplacespecification.h"
#include "rollbackdatalist.h"

class Configuration;

// Adds or replaces one installed file from the session directory, one step at a time: delete a
// left-over "_old_" copy, move the installed copy aside under its "_old_" name, copy (or unpack
// and check) the new file in. Every step is journalled in the task's own journal. On success
// the journal is appended to the parent's and the "_old_" name to the delete list (except for
// the special files); on failure or cancel the task undoes its own journal before it ends.
// Runs on the main thread; the lists and the configuration must outlive the task.
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

    void execute() override;
    void reset() override;
    void subtasksDone() override;

    void makeSubtasksAndStart();
    static void makeSingleFileExecutable(const QString& path);
};
