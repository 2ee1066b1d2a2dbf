#pragma once

#include "taskspecification.h"

#include <QList>

// A task made of subtasks, which it owns. Subtasks start in the order they were added, each
// from its own event-loop turn (startNextTask is queued), with at most maxParallel running.
// Progress is the sum of the subtasks' scaled progress. The first cancellation of a subtask
// is broadcast once to the others through otherTaskCancelled and stops new starts; once no
// subtask runs any more, subtasksDone() ends this task with a state derived from the
// subtasks' states (an error wins over a user cancel, which wins over success).
class ComposedTaskSpecification : public TaskSpecification
{
    Q_OBJECT
public:
    ComposedTaskSpecification(int maxParallel, double parentProgressRange, QObject* parent);
    ~ComposedTaskSpecification() override;

    QList<TaskSpecification*> subTasks;
    QList<TaskSpecification*> pendingTasks;
    QList<TaskSpecification*> runningTasks;
    QList<TaskSpecification*> doneTasks;
    qint32 maxParallel;
    bool subTaskCanceled = false;
    bool doneReported = false;

    void reset() override;
    void timeTick(quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick,
        bool& downloading) override;
    void userCanceled() override;
    void handleOtherTaskCancelled(TaskSpecification* other) override;

    virtual void subtasksDone();
    virtual void connectSignals(TaskSpecification* subTask);

    void addSubTask(TaskSpecification* subTask);
    void executeSubTasks();
    void clearSubTasks();
    qint32 getStateFromSubTasks() const;

signals:
    void startNextTask();

private slots:
    void onStartNextTask();
    void onUpdateProgress(qreal doneFrac);
    void onSubTaskFinished(TaskSpecification* subTask);
    void onSubTaskCanceled(TaskSpecification* subTask);
};
