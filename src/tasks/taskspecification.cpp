#include "taskspecification.h"

#include <QEvent>

TaskSpecification::TaskSpecification(QObject* parent, double parentProgressRange)
    : QObject(parent)
    , parentProgressRange(parentProgressRange)
{
}

TaskSpecification::~TaskSpecification()
{
    // QObject deletes the child tasks next: a function still filling one of them must be done.
    waitForFunctions();
}

bool TaskSpecification::event(QEvent* event)
{
    // A deferred delete runs every destructor of this task's tree, the subclasses' members
    // first: wait while they are all still whole.
    if (event->type() == QEvent::DeferredDelete)
        waitForFunctions();
    return QObject::event(event);
}

void TaskSpecification::waitForFunctions()
{
    // Not findChildren(): a list made for every task of a tree of thousands costs more than
    // the walk. Waiting changes no children.
    for (QObject* child : children()) {
        if (auto* task = qobject_cast<TaskSpecification*>(child))
            task->waitForFunctions();
    }
}

void TaskSpecification::reset()
{
    userCancelRequested = false;
    state = TaskIdle;
    setProgress(0.0);
}

void TaskSpecification::timeTick(
    quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick, bool& downloading)
{
    bytesDone = 0;
    bytesTotal = 0;
    bytesSinceLastTick = 0;
    downloading = false;
}

void TaskSpecification::userCanceled()
{
    userCancelRequested = true;
}

void TaskSpecification::handleOtherTaskCancelled(TaskSpecification*) { }

void TaskSpecification::setParentProgressRange(double range)
{
    parentProgressRange = range;
}

void TaskSpecification::setProgress(double fraction)
{
    progress = fraction * parentProgressRange;
    emit updateProgress(progress);
}

void TaskSpecification::finish()
{
    state = TaskFinished;
    setProgress(1.0);
    emit finished(this);
}

void TaskSpecification::errorCancel()
{
    state = TaskErrorCanceled;
    emit canceled(this);
}

void TaskSpecification::userCancel()
{
    state = TaskUserCanceled;
    emit canceled(this);
}

void TaskSpecification::onOtherTaskCancelled(TaskSpecification* other)
{
    if (other != this && state == TaskRunning)
        handleOtherTaskCancelled(other);
}
