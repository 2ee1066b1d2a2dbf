#include "asynctaskspecification.h"

#include "asyncfunc.h"
#include "asyncrun.h"

#include <QThreadPool>

ASyncTaskSpecification::ASyncTaskSpecification(QObject* parent, double parentProgressRange)
    : TaskSpecification(parent, parentProgressRange)
{
}

ASyncTaskSpecification::~ASyncTaskSpecification()
{
    // A window closed while a plan is being built deletes the task tree; the function must
    // not go on filling a plan that no longer exists.
    if (state == TaskRunning)
        QThreadPool::globalInstance()->waitForDone();
}

void ASyncTaskSpecification::execute()
{
    ASyncFunc* func = createFunction();
    connectDefaultSignals(func);
    QThreadPool::globalInstance()->start(new ASyncRun(func), 0);
    // Safe after the start: the result can only arrive through the event loop.
    state = TaskRunning;
}

void ASyncTaskSpecification::connectDefaultSignals(ASyncFunc* func)
{
    connect(func, &ASyncFunc::runResult, this, &ASyncTaskSpecification::onRunResult,
        Qt::QueuedConnection);
    connect(func, &ASyncFunc::message, this, &TaskSpecification::message, Qt::QueuedConnection);
    connect(func, &ASyncFunc::error, this, &TaskSpecification::error, Qt::QueuedConnection);
    connect(func, &ASyncFunc::progress, this, &ASyncTaskSpecification::onProgress,
        Qt::QueuedConnection);
}

void ASyncTaskSpecification::runDone(bool result)
{
    if (state != TaskRunning)
        return;
    if (result)
        finish();
    else
        errorCancel();
}

void ASyncTaskSpecification::onRunResult(bool res)
{
    runDone(res);
}

void ASyncTaskSpecification::onProgress(qreal fraction)
{
    setProgress(fraction);
}

void ASyncTaskSpecification::reset()
{
    QThreadPool::globalInstance()->waitForDone();
    TaskSpecification::reset();
}
