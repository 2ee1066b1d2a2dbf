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
    // Late for data of a subclass (see the header), but the function must not outlive the task.
    waitForFunctions();
}

void ASyncTaskSpecification::execute()
{
    ++runNumber;
    ASyncFunc* func = createFunction();
    connectDefaultSignals(func);
    auto* runner = new ASyncRun(func);
    functionReturned = runner->functionReturned();
    QThreadPool::globalInstance()->start(runner, 0);
    // Safe after the start: the result can only arrive through the event loop.
    state = TaskRunning;
}

void ASyncTaskSpecification::connectDefaultSignals(ASyncFunc* func)
{
    // Each connection is bound to the run that made it: the function's queued signals may still
    // be on their way when a reset and a new execute() have begun another run.
    const quint64 madeFor = runNumber;
    connect(
        func, &ASyncFunc::runResult, this,
        [this, madeFor](bool res) {
            if (madeFor == runNumber)
                onRunResult(res);
        },
        Qt::QueuedConnection);
    connect(
        func, &ASyncFunc::message, this,
        [this, madeFor](const QString& text) {
            if (madeFor == runNumber)
                emit message(text);
        },
        Qt::QueuedConnection);
    connect(
        func, &ASyncFunc::error, this,
        [this, madeFor](const QString& text) {
            if (madeFor == runNumber)
                emit error(text);
        },
        Qt::QueuedConnection);
    connect(
        func, &ASyncFunc::progress, this,
        [this, madeFor](qreal fraction) {
            if (madeFor == runNumber)
                onProgress(fraction);
        },
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
    ++runNumber;
    QThreadPool::globalInstance()->waitForDone();
    TaskSpecification::reset();
}

void ASyncTaskSpecification::waitForFunctions()
{
    if (functionReturned.valid())
        functionReturned.wait();
    TaskSpecification::waitForFunctions();
}
