#include "filereplacelisttaskspecification.h"

#include "configuration.h"
#include "dircreatetaskspecification.h"
#include "filereplacetaskspecification.h"
#include "filetodirtaskspecification.h"
#include "installationsynctaskspecification.h"
#include "rollbackjournalcommittaskspecification.h"
#include "statcache.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

FileReplaceListTaskSpecification::FileReplaceListTaskSpecification(
    QList<FileReplaceSpecification>* replaceList, QList<QString>* deleteList, StatCache* statCache,
    Configuration* configuration, QObject* parent, double progressRange)
    : ComposedTaskSpecification(2, progressRange, parent)
    , replaceList(replaceList)
    , deleteList(deleteList)
    , statCache(statCache)
    , journalFile(Configuration::getAppRootPath())
    , configuration(configuration)
{
}

void FileReplaceListTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting file updates"));
    makeSubtasksAndStart();
}

void FileReplaceListTaskSpecification::makeSubtasksAndStart()
{
    state = TaskRunning;
    committing = false;
    committed = false;
    failedStep = nullptr;
    lastMessages.clear();
    // Every step is decided before the first one: the journal holds them all from the start.
    QList<RollbackData> plan;
    // A file takes four entries at most: a left-over copy moved, the new file, the installed
    // copy kept aside, the install.
    plan.reserve(4 * replaceList->size());
    rollbackList.journalFile = &journalFile;
    makeFileReplaceTasks(makeSubdirTasks(plan) > 0, plan);
    if (!journalFile.create(plan)) {
        emit message(QStringLiteral("Could not create the rollback journal %1")
                         .arg(journalFile.errorString()));
        rollbackList.journalFile = nullptr;
        clearSubTasks();
        errorCancel();
        return;
    }
    executeSubTasks();
}

int FileReplaceListTaskSpecification::makeSubdirTasks(QList<RollbackData>& plan)
{
    QSet<QString> seen;
    QStringList missing;
    for (const FileReplaceSpecification& entry : std::as_const(*replaceList)) {
        const QString dir
            = QFileInfo(Configuration::getAppRootFilePath(entry.destFileName(QString()))).path();
        if (seen.contains(dir))
            continue;
        seen.insert(dir);
        // A file in the way is handed to the directory task, which reports it clearly.
        if (!QFileInfo(dir).isDir())
            missing.append(dir);
    }
    // Plain string order puts every parent before its children.
    missing.sort();
    // A file (or link) where the new version has a directory trades places with a new, empty
    // directory, goes aside like a replaced file and is deleted with the old copies.
    QStringList inTheWay;
    for (const QString& dir : std::as_const(missing)) {
        QString path = dir;
        while (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()
            && path != Configuration::getAppRootPath())
            path = QFileInfo(path).path();
        if (!QFileInfo(path).isDir() && !inTheWay.contains(path))
            inTheWay.append(path);
    }
    const double weight = 0.1 / (inTheWay.size() + missing.size());
    // Once swapped, each file in the way is a directory the directory tasks find in place.
    QSet<QString> existing;
    for (const QString& path : std::as_const(inTheWay)) {
        const QString aside = FileReplaceTaskSpecification::unusedName(
            QFileInfo(path).dir().filePath(Configuration::getSpecialFileRenamePrefix())
            + QFileInfo(path).fileName());
        movedAside.append(aside);
        auto* swap = new FileToDirTaskSpecification(path, aside, &rollbackList, this, weight);
        plan.append(swap->plannedEntries());
        addStep(swap);
        existing.insert(path);
    }
    for (const QString& dir : std::as_const(missing)) {
        DirCreateTaskSpecification::plan(dir, existing, plan);
        addStep(new DirCreateTaskSpecification(dir, &rollbackList, this, weight));
    }
    return missing.size();
}

void FileReplaceListTaskSpecification::makeFileReplaceTasks(
    bool directoriesAdded, QList<RollbackData>& plan)
{
    if (replaceList->isEmpty())
        return;
    const double weight = (directoriesAdded ? 0.9 : 1.0) / replaceList->size();
    for (const FileReplaceSpecification& entry : std::as_const(*replaceList)) {
        auto* task = new FileReplaceTaskSpecification(
            entry, deleteList, &rollbackList, configuration, this, weight);
        plan.append(task->prepare());
        addStep(task);
    }
}

void FileReplaceListTaskSpecification::addStep(TaskSpecification* step)
{
    // A step that fails says why in its last message; two steps run at a time, so the last
    // message of the whole task may be the other one's.
    connect(step, &TaskSpecification::message, this,
        [this, step](const QString& text) { lastMessages.insert(step, text); });
    // Before the composite hears of it: the composite cancels the other running step then.
    connect(step, &TaskSpecification::canceled, this, [this](TaskSpecification* canceled) {
        if (!failedStep)
            failedStep = canceled;
    });
    addSubTask(step);
}

QString FileReplaceListTaskSpecification::failureReason() const
{
    return lastMessages.value(failedStep);
}

void FileReplaceListTaskSpecification::subtasksDone()
{
    if (getStateFromSubTasks() != TaskFinished) {
        // Without an error the failed run would give no reason, and an unattended run has no
        // log to point to.
        if (!userCancelRequested)
            emit error(QStringLiteral("The files could not be replaced: %1").arg(failureReason()));
        emit message(QStringLiteral("rolling back file updates"));
        undo();
    } else if (!committing) {
        commit();
        return;
    } else {
        committed = true;
        rollbackList.journalFile = nullptr;
        rememberWrittenFiles();
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceListTaskSpecification::commit()
{
    committing = true;
    for (const QString& aside : std::as_const(movedAside))
        deleteList->append(QDir(Configuration::getAppRootPath()).relativeFilePath(aside));
    // The copies may still sit in the page cache; the commit must not come before they are on
    // disk. Part of this task, so that a failure of either is undone like any other step.
    const QString root = Configuration::getAppRootPath();
    addStep(new InstallationSyncTaskSpecification(root, this, 0.0));
    addStep(new RollbackJournalCommitTaskSpecification(&journalFile, deleteList, this));
    // One after the other; a cancellation that came with the last file stops both and undoes.
    maxParallel = 1;
    doneReported = false;
    executeSubTasks();
}

void FileReplaceListTaskSpecification::rememberWrittenFiles()
{
    if (!statCache)
        return;
    const QString root = Configuration::getAppRootPath();
    statCache->recordWritten(root);
    QString problem;
    if (!statCache->save(root, &problem))
        emit message(problem);
}

void FileReplaceListTaskSpecification::reset()
{
    clearSubTasks();
    if (!committed)
        undo();
    movedAside.clear();
    maxParallel = 2;
    ComposedTaskSpecification::reset();
}

void FileReplaceListTaskSpecification::undo()
{
    const bool undone = rollbackList.rollback(this);
    if (!rollbackList.journalFile)
        return;
    rollbackList.journalFile = nullptr;
    if (!undone) {
        emit message(QStringLiteral("warning: the update could not be undone completely; the "
                                    "journal %1 is kept and the next start tries again")
                         .arg(journalFile.filePath()));
        return;
    }
    // The installation is the old version again: nothing is left for a recovery to do.
    journalFile.discard(this);
}
