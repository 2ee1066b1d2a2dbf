#pragma once

#include <QRunnable>

class ASyncFunc;

// Carries an ASyncFunc into the thread pool. Auto-deleted by the pool after run(), and deletes
// the function with it, on the worker thread.
class ASyncRun : public QRunnable
{
public:
    explicit ASyncRun(ASyncFunc* func);
    ~ASyncRun() override;

    void run() override;

private:
    ASyncFunc* func;
};
