#include "makedownloadreplacelisttaskspecification.h"

#include "makedownloadreplacelistfunc.h"

MakeDownloadReplaceListTaskSpecification::MakeDownloadReplaceListTaskSpecification(
    Configuration* configuration, FileSpecifications& plan, QObject* parent, double progressRange)
    : ASyncTaskSpecification(parent, progressRange)
    , configuration(configuration)
    , targetPlan(plan)
{
    // The function reports why it refuses a product ini as its last message.
    connect(this, &TaskSpecification::message, this,
        [this](const QString& text) { lastMessage = text; });
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
    // Without an error the failed run would give no reason, and an unattended run has no log
    // to point to.
    if (!ok && state == TaskRunning && !userCancelRequested) {
        const QLatin1String warning("Warning: ");
        const QString reason
            = lastMessage.startsWith(warning) ? lastMessage.mid(warning.size()) : lastMessage;
        emit error(QStringLiteral("The update plan was refused: %1").arg(reason));
    }
    ASyncTaskSpecification::runDone(ok);
}
