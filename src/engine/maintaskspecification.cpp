#include "maintaskspecification.h"

#include "configuration.h"
#include "downloadfilelisttaskspecification.h"
#include "filedeletelisttaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "inidownloadtaskspecification.h"
#include "installedrecord.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "updateinidata.h"

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
    makeSubtasksAndStart();
}

void MainTaskSpecification::makeSubtasksAndStart()
{
    addSubTask(new IniDownloadTaskSpecification(networkManager, mirrors, configuration, this, 0.1));
    addSubTask(new MakeDownloadReplaceListTaskSpecification(configuration, plan, this, 0.05));
    addSubTask(new DownloadFileListTaskSpecification(
        &plan.downloadList, networkManager, mirrors, configuration, this, 0.4));
    replacement = new FileReplaceListTaskSpecification(
        &plan.replaceList, &plan.deleteList, configuration, this, 0.4);
    connect(
        replacement, &TaskSpecification::finished, this, &MainTaskSpecification::recordInstalled);
    addSubTask(replacement);
    addSubTask(new FileDeleteListTaskSpecification(&plan.deleteList, this, 0.05));
    state = TaskRunning;
    executeSubTasks();
}

void MainTaskSpecification::recordInstalled()
{
    // Switched on only: an installation that took an Ed25519-signed update refuses an ini
    // without such a signature from then on, whatever later runs accept.
    if (!replacement || !replacement->committed || !configuration->iniEd25519Signed)
        return;
    InstalledRecord record = InstalledRecord::load();
    if (record.ed25519Signed)
        return;
    record.ed25519Signed = true;
    if (!record.save())
        emit message(QStringLiteral("Could not record the Ed25519 signature of the installed "
                                    "version in %1")
                         .arg(UpdateIniData::filename()));
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
