#include "maintaskspecification.h"

#include "configuration.h"
#include "downloadfilelisttaskspecification.h"
#include "filedeletelisttaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "inidownloadtaskspecification.h"
#include "installedrecord.h"
#include "makedownloadreplacelisttaskspecification.h"
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
    auto* ini
        = new IniDownloadTaskSpecification(networkManager, mirrors, configuration, this, 0.08);
    addSubTask(ini);
    addSubTask(new Sha256SumsDownloadTaskSpecification(
        networkManager, mirrors, configuration, ini, this, 0.02));
    addSubTask(new MakeDownloadReplaceListTaskSpecification(configuration, plan, this, 0.05));
    addSubTask(new DownloadFileListTaskSpecification(
        &plan.downloadList, networkManager, mirrors, configuration, this, 0.4));
    replacement = new FileReplaceListTaskSpecification(
        &plan.replaceList, &plan.deleteList, &plan.statCache, configuration, this, 0.4);
    addSubTask(replacement);
    connect(replacement, &TaskSpecification::finished, this,
        &MainTaskSpecification::onReplacementFinished);
    addSubTask(new FileDeleteListTaskSpecification(&plan.deleteList, this, 0.05));
    state = TaskRunning;
    executeSubTasks();
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

void MainTaskSpecification::userCanceled()
{
    if (replacement && replacement->committed) {
        emit message(QStringLiteral("The new version is already installed; finishing the update"));
        return;
    }
    ComposedTaskSpecification::userCanceled();
}

void MainTaskSpecification::reset()
{
    clearSubTasks();
    replacement = nullptr;
    plan.clear();
    // With no subtasks left this only clears the composite's end-of-run flags and the state, so
    // a reset task can be executed again.
    ComposedTaskSpecification::reset();
}
