#include "asynctaskspecification.h"

#include "asyncfunc.h"
#include "asyncrun.h"
#include "threadhandoff.h"

#include <QThreadPool>

ASyncTaskSpecification::ASyncTaskSpecification(QObject* parent, double parentProgressRange)
    : TaskSpecification(parent, parentProgressRange)
{
}

// The task owns its functions (as children) and deletes them on its own thread, where their
// queued signals are delivered, once none of them runs any more: only the latest one may still
// run, as an idle task's earlier ones have returned before it was reset.
static void deleteReturnedFunctions(QObject* task, const std::future<void>& latestReturned)
{
    if (latestReturned.valid())
        latestReturned.wait();
    qDeleteAll(task->findChildren<ASyncFunc*>(QString(), Qt::FindDirectChildrenOnly));
}

#ifdef CRV_THREAD_SANITIZER
// What the worker wrote before a signal reaches the main thread through Qt's posted-event list.
// A direct connection runs on the emitting thread, before the queued ones made after it.
static void releaseOnEveryEmission(ASyncFunc* func)
{
    const auto release = [func] { CRV_HANDOFF_RELEASE(func); };
    QObject::connect(func, &ASyncFunc::runResult, func, release, Qt::DirectConnection);
    QObject::connect(func, &ASyncFunc::message, func, release, Qt::DirectConnection);
    QObject::connect(func, &ASyncFunc::error, func, release, Qt::DirectConnection);
    QObject::connect(func, &ASyncFunc::progress, func, release, Qt::DirectConnection);
}
#endif

ASyncTaskSpecification::~ASyncTaskSpecification()
{
    // Late for data of a subclass (see the header), but the function must not outlive the task.
    waitForFunctions();
}

void ASyncTaskSpecification::execute()
{
    ++runNumber;
    ASyncFunc* func = createFunction();
    func->setParent(this);
#ifdef CRV_THREAD_SANITIZER
    releaseOnEveryEmission(func);
#endif
    connectDefaultSignals(func);
    auto* runner = new ASyncRun(func);
    functionReturned = runner->functionReturned();
    CRV_HANDOFF_RELEASE(runner);
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
        [this, func, madeFor](bool res) {
            CRV_HANDOFF_ACQUIRE(func);
            if (madeFor != runNumber)
                return;
            // The last signal: the function is about to return, and is no use any more.
            deleteReturnedFunctions(this, functionReturned);
            onRunResult(res);
        },
        Qt::QueuedConnection);
    connect(
        func, &ASyncFunc::message, this,
        [this, func, madeFor](const QString& text) {
            CRV_HANDOFF_ACQUIRE(func);
            if (madeFor == runNumber)
                emit message(text);
        },
        Qt::QueuedConnection);
    connect(
        func, &ASyncFunc::error, this,
        [this, func, madeFor](const QString& text) {
            CRV_HANDOFF_ACQUIRE(func);
            if (madeFor == runNumber)
                emit error(text);
        },
        Qt::QueuedConnection);
    connect(
        func, &ASyncFunc::progress, this,
        [this, func, madeFor](qreal fraction) {
            CRV_HANDOFF_ACQUIRE(func);
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
    deleteReturnedFunctions(this, functionReturned);
    TaskSpecification::reset();
}

void ASyncTaskSpecification::waitForFunctions()
{
    deleteReturnedFunctions(this, functionReturned);
    TaskSpecification::waitForFunctions();
}
