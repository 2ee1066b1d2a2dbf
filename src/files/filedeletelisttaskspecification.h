#pragma once

#include "composedtaskspecification.h"

// Deletes the install-relative paths of the plan's delete list, one at a time, once the
// replacement has committed the rollback journal with the list (a run killed from there on is
// completed by the next start). The list is read when the task executes, so it includes the
// "_old_" copies the replacement added. A failure to delete does not fail the step (the update
// stands): it is reported, and the journal is kept for the next start to complete the deletion;
// otherwise the journal is removed when the step ends well. Runs on the main thread.
class FileDeleteListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    FileDeleteListTaskSpecification(
        QList<QString>* deleteList, QObject* parent, double progressRange);

    QList<QString>* deleteList;

    void execute() override;
    void reset() override;
    void subtasksDone() override;

    void makeSubtasksAndStart();
};
