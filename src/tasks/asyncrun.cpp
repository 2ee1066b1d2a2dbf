#include "asyncrun.h"

#include "asyncfunc.h"

ASyncRun::ASyncRun(ASyncFunc* func)
    : func(func)
{
    setAutoDelete(true);
}

ASyncRun::~ASyncRun()
{
    delete func;
    returned.set_value();
}

void ASyncRun::run()
{
    func->execute();
}

std::future<void> ASyncRun::functionReturned()
{
    return returned.get_future();
}
