#include "maintaskspecification.h"

#include "configuration.h"
#include "deltalistdownloadtaskspecification.h"
#include "downloadfilelisttaskspecification.h"
#include "filedeletelisttaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "inidownloadtaskspecification.h"
#include "installedrecord.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "planwork.h"
#include "sha256sumsdownloadtaskspecification.h"
#include "targetversioncheck.h"

MainTaskSpecification::MainTaskSpecification(QNetworkAccessManager* networkManager,
    Mirrors* mirrors, Configuration* configuration, QObject* parent, double progressRange)
    : ComposedTaskSpecification(1, progressRange, parent)
    , networkManager(networkManager)
    , mirrors(mirrors)
    , configuration(configuration)
{
}

void MainTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting update process"));
    // Checked before anything is fetched: whoever named an older target learns nothing from the
    // mirrors, and the run ends as one with nothing to do.
    const QString refusal = TargetVersionCheck::refusal(*configuration, InstalledRecord::load());
    if (!refusal.isEmpty()) {
        emit message(refusal);
        finish();
        return;
    }
    makeSubtasksAndStart();
}

void MainTaskSpecification::makeSubtasksAndStart()
{
    // The first three steps fetch a few kilobytes and compare the installation; the rest of the
    // bar is shared out by the plan once it is known.
    auto* ini
        = new IniDownloadTaskSpecification(networkManager, mirrors, configuration, this, 0.02);
    addSubTask(ini);
    addSubTask(new Sha256SumsDownloadTaskSpecification(
        networkManager, mirrors, configuration, ini, this, 0.005));
    addSubTask(new DeltaListDownloadTaskSpecification(
        networkManager, mirrors, configuration, ini, this, 0.005));
    auto* planning = new MakeDownloadReplaceListTaskSpecification(configuration, plan, this, 0.02);
    addSubTask(planning);
    connect(planning, &TaskSpecification::finished, this, &MainTaskSpecification::onPlanMade);
    downloads = new DownloadFileListTaskSpecification(
        &plan.downloadList, networkManager, mirrors, configuration, this, 0.4);
    addSubTask(downloads);
    replacement = new FileReplaceListTaskSpecification(
        &plan.replaceList, &plan.deleteList, &plan.statCache, configuration, this, 0.45);
    addSubTask(replacement);
    connect(replacement, &TaskSpecification::finished, this,
        &MainTaskSpecification::onReplacementFinished);
    deletion = new FileDeleteListTaskSpecification(&plan.deleteList, this, 0.05);
    addSubTask(deletion);
    state = TaskRunning;
    executeSubTasks();
}

void MainTaskSpecification::onPlanMade()
{
    // Neither step has started, so their progress is still 0 and nothing jumps.
    const double range = 1.0 - planSteps;
    const PlanWork::Shares shares = PlanWork::shares(plan);
    downloads->setParentProgressRange(range * shares.download);
    replacement->setParentProgressRange(range * shares.replace);
    deletion->setParentProgressRange(range * shares.deletion);
}

void MainTaskSpecification::onReplacementFinished()
{
    if (!replacement || !replacement->committed)
        return;
    // From now on the new version is what is installed; a later target must not go below it.
    InstalledRecord record = InstalledRecord::load();
    record.version = configuration->clientVersion;
    record.type = configuration->clientType;
    // Switched on only: an installation that took an Ed25519-signed update refuses an ini
    // without such a signature from then on, whatever later runs accept.
    if (configuration->iniEd25519Signed)
        record.ed25519Signed = true;
    if (!record.save())
        emit message(QStringLiteral("Could not record the installed version in update.ini"));
}

bool MainTaskSpecification::committed() const
{
    return replacement && replacement->committed;
}

void MainTaskSpecification::userCanceled()
{
    if (committed()) {
        emit message(QStringLiteral("The new version is already installed; finishing the update"));
        return;
    }
    ComposedTaskSpecification::userCanceled();
}

void MainTaskSpecification::reset()
{
    clearSubTasks();
    downloads = nullptr;
    replacement = nullptr;
    deletion = nullptr;
    plan.clear();
    // With no subtasks left this only clears the composite's end-of-run flags and the state, so
    // a reset task can be executed again.
    ComposedTaskSpecification::reset();
}
