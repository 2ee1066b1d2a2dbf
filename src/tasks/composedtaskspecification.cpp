#include "composedtaskspecification.h"

#include <QDeadlineTimer>

namespace {
// How long one event-loop turn may go on starting subtasks that end at once.
constexpr int inlineBudgetMs = 4;
}

ComposedTaskSpecification::ComposedTaskSpecification(
    int maxParallel, double parentProgressRange, QObject* parent)
    : TaskSpecification(parent, parentProgressRange)
    , maxParallel(maxParallel)
{
    if (maxParallel < 1)
        qFatal("ComposedTaskSpecification: maxParallel must be at least 1, not %d", maxParallel);
    // Queued so that a subtask never starts inside the call chain of the one that ended.
    connect(this, &ComposedTaskSpecification::startNextTask, this,
        &ComposedTaskSpecification::onStartNextTask, Qt::QueuedConnection);
}

ComposedTaskSpecification::~ComposedTaskSpecification()
{
    // The subtasks die with this task, as its children, once they are cut off from it: nothing
    // they send while they go may reach a task half destroyed. A deleteLater() here would make
    // each of them search the whole posted-event list as it dies, quadratic in their number.
    cutOffSubTasks();
}

void ComposedTaskSpecification::cutOffSubTasks()
{
    // The broadcast to the subtasks goes in one step: cut per subtask, each cut would search
    // every receiver, quadratic in their number. Nothing else listens to it.
    disconnect(this, &TaskSpecification::otherTaskCancelled, nullptr, nullptr);
    for (TaskSpecification* sub : std::as_const(subTasks))
        disconnect(sub, nullptr, this, nullptr);
}

void ComposedTaskSpecification::addSubTask(TaskSpecification* subTask)
{
    subTask->setParent(this);
    subTasks.append(subTask);
    pendingTasks.append(subTask);
    connectSignals(subTask);
    countProgress(subTask, subTask->progress);
}

void ComposedTaskSpecification::connectSignals(TaskSpecification* sub)
{
    connect(sub, &TaskSpecification::finished, this, &ComposedTaskSpecification::onSubTaskFinished);
    connect(sub, &TaskSpecification::canceled, this, &ComposedTaskSpecification::onSubTaskCanceled);
    connect(sub, &TaskSpecification::error, this, &TaskSpecification::error);
    // The subtask is bound here: sender() would search every connection made to this task,
    // once per report, and a file list has thousands.
    connect(sub, &TaskSpecification::updateProgress, this,
        [this, sub](qreal scaledProgress) { countProgress(sub, scaledProgress); });
    connect(sub, &TaskSpecification::message, this, &TaskSpecification::message);
    connect(this, &TaskSpecification::otherTaskCancelled, sub,
        &TaskSpecification::onOtherTaskCancelled);
}

void ComposedTaskSpecification::executeSubTasks()
{
    beginRun(false);
}

void ComposedTaskSpecification::executeSubTasksNow()
{
    beginRun(true);
}

void ComposedTaskSpecification::beginRun(bool startNow)
{
    state = TaskRunning;
    const quint64 run = ++runNumber;
    const int n = qMin(int(pendingTasks.size()), maxParallel);
    if (n == 0) {
        subtasksDone();
        return;
    }
    for (int i = 0; i < n; ++i) {
        if (!startNow)
            emit startNextTask(run);
        else if (run == runNumber && state == TaskRunning)
            startPending(run);
    }
}

void ComposedTaskSpecification::clearSubTasks()
{
    cutOffSubTasks();
    for (TaskSpecification* sub : std::as_const(subTasks))
        sub->deleteLater();
    subTasks.clear();
    countedProgress.clear();
    progressSum = 0.0;
    pendingTasks.clear();
    runningTasks.clear();
    doneTasks.clear();
}

qint32 ComposedTaskSpecification::getStateFromSubTasks() const
{
    bool allFinished = true;
    bool anyUserCanceled = false;
    for (const TaskSpecification* sub : subTasks) {
        if (sub->state == TaskErrorCanceled)
            return TaskErrorCanceled;
        if (sub->state == TaskUserCanceled)
            anyUserCanceled = true;
        if (sub->state != TaskFinished)
            allFinished = false;
    }
    if (anyUserCanceled)
        return TaskUserCanceled;
    if (allFinished)
        return TaskFinished;
    if (userCancelRequested)
        return TaskUserCanceled;
    if (subTaskCanceled || cancelNewsReceived)
        return TaskErrorCanceled;
    return TaskRunning;
}

void ComposedTaskSpecification::subtasksDone()
{
    switch (getStateFromSubTasks()) {
    case TaskFinished:
        finish();
        break;
    case TaskUserCanceled:
        userCancel();
        break;
    default:
        errorCancel();
        break;
    }
}

bool ComposedTaskSpecification::startsStopped() const
{
    return subTaskCanceled || cancelNewsReceived || userCancelRequested;
}

void ComposedTaskSpecification::onStartNextTask(quint64 run)
{
    if (run == runNumber && state == TaskRunning)
        startPending(run);
}

void ComposedTaskSpecification::startPending(quint64 run)
{
    const QDeadlineTimer turn(inlineBudgetMs);
    for (;;) {
        if (pendingTasks.isEmpty() || startsStopped()) {
            if (runningTasks.isEmpty() && !doneReported) {
                doneReported = true;
                subtasksDone();
            }
            return;
        }
        TaskSpecification* next = pendingTasks.takeFirst();
        runningTasks.append(next);
        starting = next;
        next->execute();
        starting = nullptr;
        // The subtask's end may have ended this task or begun another run of it.
        if (next->state != TaskFinished || run != runNumber || state != TaskRunning)
            return;
        if (turn.hasExpired()) {
            emit startNextTask(run);
            return;
        }
    }
}

void ComposedTaskSpecification::onSubTaskFinished(TaskSpecification* sub)
{
    if (state != TaskRunning || !runningTasks.removeOne(sub))
        return;
    doneTasks.append(sub);
    // One that ends inside startPending() is followed there.
    if (sub != starting)
        emit startNextTask(runNumber);
}

void ComposedTaskSpecification::onSubTaskCanceled(TaskSpecification* sub)
{
    if (state != TaskRunning || !runningTasks.removeOne(sub))
        return;
    doneTasks.append(sub);
    if (!subTaskCanceled) {
        subTaskCanceled = true;
        emit otherTaskCancelled(sub);
    }
    if (runningTasks.isEmpty() && !doneReported) {
        doneReported = true;
        subtasksDone();
    }
}

void ComposedTaskSpecification::countProgress(const TaskSpecification* sub, double scaledProgress)
{
    double& counted = countedProgress[sub];
    progressSum += scaledProgress - counted;
    counted = scaledProgress;
    // Rounding must not show a task that has done nothing as a little behind its start.
    setProgress(qMax(0.0, progressSum));
}

void ComposedTaskSpecification::userCanceled()
{
    TaskSpecification::userCanceled();
    if (state != TaskRunning)
        return;
    // A copy: a subtask that ends here may make a subclass rebuild the list.
    const QList<TaskSpecification*> subs = subTasks;
    for (TaskSpecification* sub : subs)
        sub->userCanceled();
}

void ComposedTaskSpecification::handleOtherTaskCancelled(TaskSpecification* other)
{
    // The run is lost anyway: starting more work (unpacking the next large file, say) would only
    // delay the rollback.
    cancelNewsReceived = true;
    emit otherTaskCancelled(other);
}

void ComposedTaskSpecification::timeTick(
    quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick, bool& downloading)
{
    downloading = false;
    for (TaskSpecification* sub : std::as_const(subTasks)) {
        quint64 done = 0, total = 0, sinceLast = 0;
        bool subDownloading = false;
        sub->timeTick(done, total, sinceLast, subDownloading);
        if (subDownloading)
            downloading = true;
        bytesSinceLastTick += sinceLast;
        if (total != 0) {
            bytesDone += done;
            bytesTotal += total;
        }
    }
}

void ComposedTaskSpecification::reset()
{
    for (TaskSpecification* sub : std::as_const(subTasks))
        sub->reset();
    pendingTasks = subTasks;
    runningTasks.clear();
    doneTasks.clear();
    subTaskCanceled = false;
    doneReported = false;
    cancelNewsReceived = false;
    TaskSpecification::reset();
}
