#pragma once

#include "taskspecification.h"

#include <QHash>
#include <QList>

// A task made of subtasks. Subtasks start in the order they were added, from the event loop
// (startNextTask is queued), with at most maxParallel running. A subtask that ends inside its
// execute() (a file operation done at once) is followed by the next one in the same turn, for
// up to a few milliseconds: a turn per subtask would cost a replacement of thousands of small
// files most of its time, and the window still gets a turn every few milliseconds. Progress is the
// sum of the subtasks' scaled progress. The first cancellation of a subtask is broadcast once
// to the others through otherTaskCancelled and stops new starts; once no subtask runs any more,
// subtasksDone() ends this task with a state derived from the subtasks' states (an error wins
// over a user cancel, which wins over success).
//
// Ownership: addSubTask() makes this task the subtask's parent. clearSubTasks() cuts the
// subtasks off and deletes them through the event loop; the destructor cuts them off and
// deletes them with this task. The owner of a
// composed task (its parent task, or the engine for the root) deletes it with deleteLater()
// once it has ended, or together with itself; never from inside one of the task's signals.
//
// Runs: executeSubTasks() begins a run, reset() makes the task idle again. Starts queued by an
// earlier run, and ends reported by subtasks that were not started in this run or after this
// task has ended, are ignored. A task must not be reset or restarted from inside its own
// signals (its parent is still handling them); a subclass may restart itself from a signal of
// one of its subtasks, as a retry does.
//
// Tasks that build new subtasks on every run implement reset() as clearSubTasks() followed by
// the reset of this class, so the old subtasks are cut off before new ones are added.
//
// News of a cancellation: told through handleOtherTaskCancelled() that a sibling was canceled,
// the task passes the news on to its subtasks and starts none of its pending ones; once its
// running subtasks have ended it ends with errorCancel(), or finish() when all had finished.
class ComposedTaskSpecification : public TaskSpecification
{
    Q_OBJECT
public:
    // maxParallel must be at least 1: a smaller value is a programming error that stops the
    // process at once, as no subtask could ever start.
    ComposedTaskSpecification(int maxParallel, double parentProgressRange, QObject* parent);
    ~ComposedTaskSpecification() override;

    QList<TaskSpecification*> subTasks;
    QList<TaskSpecification*> pendingTasks;
    QList<TaskSpecification*> runningTasks;
    QList<TaskSpecification*> doneTasks;
    qint32 maxParallel;
    bool subTaskCanceled = false;
    bool doneReported = false;
    // A sibling's cancellation reached this task in this run: nothing new is started.
    bool cancelNewsReceived = false;

    void reset() override;
    void timeTick(quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick,
        bool& downloading) override;
    void userCanceled() override;
    void handleOtherTaskCancelled(TaskSpecification* other) override;

    virtual void subtasksDone();
    virtual void connectSignals(TaskSpecification* subTask);

    void addSubTask(TaskSpecification* subTask);
    void executeSubTasks();
    // The same from execute(): the first subtasks start in this call, so that a task whose
    // subtasks all end at once ends before execute() returns. Never from a subtask's signal.
    void executeSubTasksNow();
    void clearSubTasks();
    qint32 getStateFromSubTasks() const;

signals:
    // Carries the number of the run that queued it.
    void startNextTask(quint64 run);

private slots:
    void onStartNextTask(quint64 run);
    void onSubTaskFinished(TaskSpecification* subTask);
    void onSubTaskCanceled(TaskSpecification* subTask);

private:
    bool startsStopped() const;
    // Begins a run: its first subtasks start from the event loop, or with startNow in this call.
    void beginRun(bool startNow);
    // Disconnects the subtasks from this task both ways.
    void cutOffSubTasks();
    // Starts pending subtasks one after the other as long as each ends inside its execute()
    // and the turn's time lasts; reports the end once none is pending or running.
    void startPending(quint64 run);
    // Moves the sum from what sub last counted for to scaledProgress, and reports it.
    void countProgress(const TaskSpecification* sub, double scaledProgress);

    quint64 runNumber = 0;
    // The subtask startPending() is executing.
    TaskSpecification* starting = nullptr;
    // The subtasks' progress as last reported, and its sum: kept up to date on every report,
    // since summing every subtask on each would cost a replacement of thousands of files a
    // time quadratic in their number.
    QHash<const TaskSpecification*, double> countedProgress;
    double progressSum = 0.0;
};
