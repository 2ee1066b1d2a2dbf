#include "asyncrun.h"

#include "asyncfunc.h"
#include "threadhandoff.h"

ASyncRun::ASyncRun(ASyncFunc* func)
    : func(func)
{
    setAutoDelete(true);
}

ASyncRun::~ASyncRun()
{
    returned.set_value();
}

void ASyncRun::run()
{
    // Made and connected on the main thread, handed over through the pool's queue.
    CRV_HANDOFF_ACQUIRE(this);
    func->execute();
}

std::future<void> ASyncRun::functionReturned()
{
    return returned.get_future();
}
