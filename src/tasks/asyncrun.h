#pragma once

#include <QRunnable>

#include <future>

class ASyncFunc;

// Carries an ASyncFunc into the thread pool; auto-deleted by the pool after run(). The function
// stays the task's: it is a main-thread object whose connections the main thread may be using
// while the worker is done, so the task deletes it there once it has returned. The future of
// functionReturned() becomes ready once run() is over, also when the pool drops the runnable
// without running it.
class ASyncRun : public QRunnable
{
public:
    explicit ASyncRun(ASyncFunc* func);
    ~ASyncRun() override;

    void run() override;
    // Call once, before the runnable is handed to the pool.
    std::future<void> functionReturned();

private:
    ASyncFunc* func;
    std::promise<void> returned;
};
