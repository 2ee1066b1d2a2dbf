#include "makedownloadreplacelisttaskspecification.h"

#include "makedownloadreplacelistfunc.h"

MakeDownloadReplaceListTaskSpecification::MakeDownloadReplaceListTaskSpecification(
    Configuration* configuration, FileSpecifications& plan, QObject* parent, double progressRange)
    : ASyncTaskSpecification(parent, progressRange)
    , configuration(configuration)
    , targetPlan(plan)
{
}

ASyncFunc* MakeDownloadReplaceListTaskSpecification::createFunction()
{
    return new MakeDownloadReplaceListFunc(configuration, workingPlan);
}

void MakeDownloadReplaceListTaskSpecification::runDone(bool ok)
{
    // A result that arrives after a reset is stale and must not reach the caller.
    if (ok && state == TaskRunning) {
        targetPlan.downloadList = workingPlan.downloadList;
        targetPlan.replaceList = workingPlan.replaceList;
        targetPlan.deleteList = workingPlan.deleteList;
        targetPlan.statCache = workingPlan.statCache;
    }
    ASyncTaskSpecification::runDone(ok);
}
