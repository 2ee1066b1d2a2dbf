#pragma once

#include <QRunnable>

#include <future>

class ASyncFunc;

// Carries an ASyncFunc into the thread pool. Auto-deleted by the pool after run(), and deletes
// the function with it, on the worker thread. The future of functionReturned() becomes ready
// once the function is gone, also when the pool drops the runnable without running it.
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
