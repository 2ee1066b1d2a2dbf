#include "maintaskspecification.h"

#include "downloadfilelisttaskspecification.h"
#include "filedeletelisttaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "inidownloadtaskspecification.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "sha256sumsdownloadtaskspecification.h"

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
    auto* ini
        = new IniDownloadTaskSpecification(networkManager, mirrors, configuration, this, 0.08);
    addSubTask(ini);
    addSubTask(new Sha256SumsDownloadTaskSpecification(
        networkManager, mirrors, configuration, ini, this, 0.02));
    addSubTask(new MakeDownloadReplaceListTaskSpecification(configuration, plan, this, 0.05));
    addSubTask(new DownloadFileListTaskSpecification(
        &plan.downloadList, networkManager, mirrors, configuration, this, 0.4));
    replacement = new FileReplaceListTaskSpecification(
        &plan.replaceList, &plan.deleteList, configuration, this, 0.4);
    addSubTask(replacement);
    addSubTask(new FileDeleteListTaskSpecification(&plan.deleteList, this, 0.05));
    state = TaskRunning;
    executeSubTasks();
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
