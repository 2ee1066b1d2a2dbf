#pragma once

#include "taskspecification.h"

#include <future>

class ASyncFunc;

// A task whose work runs as an ASyncFunc on the global thread pool. The function's signals
// arrive queued on the main thread, in the order they were emitted, so messages and errors
// precede the result. A user request does not interrupt the function: the task ends when the
// result arrives.
//
// Late results: every execute() and reset() starts a new run, and whatever a function of an
// earlier run still sends (result, progress, message, error) is dropped, so it can neither end
// nor report into a later run. A result that arrives after the task left TaskRunning is ignored.
//
// Lifetime: the function may fill data of the task (createFunction() hands it pointers), so the
// task must not die before its function has returned. Deleting it with deleteLater() or with
// its parent waits for that before any destructor runs. A plain delete of a running task waits
// too, but only in this class's destructor, after the subclass's members are gone: a subclass
// whose function fills its members must not be deleted that way while it runs.
class ASyncTaskSpecification : public TaskSpecification
{
    Q_OBJECT
public:
    ASyncTaskSpecification(QObject* parent, double parentProgressRange);
    ~ASyncTaskSpecification() override;

    // Call on an idle task only (new or reset).
    void execute() override;
    // Waits until the global thread pool has no work left at all, then resets.
    void reset() override;
    void waitForFunctions() override;

    // Ownership of the returned function passes to the runner.
    virtual ASyncFunc* createFunction() = 0;
    virtual void connectDefaultSignals(ASyncFunc* func);
    virtual void runDone(bool result);

protected slots:
    void onRunResult(bool res);
    void onProgress(qreal progress);

private:
    quint64 runNumber = 0;
    std::future<void> functionReturned;
};
