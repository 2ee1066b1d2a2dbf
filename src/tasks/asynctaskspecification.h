#pragma once

#include "taskspecification.h"

class ASyncFunc;

// A task whose work runs as an ASyncFunc on the global thread pool. The function's signals
// arrive queued on the main thread, in the order they were emitted, so messages and errors
// precede the result. A result that arrives after the task left TaskRunning is ignored.
// A user request does not interrupt the function: the task ends when the result arrives.
class ASyncTaskSpecification : public TaskSpecification
{
    Q_OBJECT
public:
    ASyncTaskSpecification(QObject* parent, double parentProgressRange);
    // Waits for the thread pool when the function may still run: it writes into data that
    // the task owns.
    ~ASyncTaskSpecification() override;

    void execute() override;
    // Waits until the global thread pool has no work left at all, then resets.
    void reset() override;

    // Ownership of the returned function passes to the runner.
    virtual ASyncFunc* createFunction() = 0;
    virtual void connectDefaultSignals(ASyncFunc* func);
    virtual void runDone(bool result);

protected slots:
    void onRunResult(bool res);
    void onProgress(qreal progress);
};
