#include "filereplacetaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "filecopytaskspecification.h"
#include "filedeletetaskspecification.h"
#include "filerenametaskspecification.h"
#include "fileunziptaskspecification.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {
const QStringList& executableFiles()
{
    static const QStringList names { QStringLiteral("crvclient_mac"), QStringLiteral("update"),
        QStringLiteral("error_report"), QStringLiteral("package_inst"), QStringLiteral("QtCore"),
        QStringLiteral("QtGui"), QStringLiteral("QtNetwork") };
    return names;
}

const QStringList& executableSuffixes()
{
    static const QStringList suffixes { QStringLiteral("dylib") };
    return suffixes;
}

QString installPath(const QString& relativePath)
{
    return QFileInfo(QDir(Configuration::getAppRootPath()), relativePath).filePath();
}

// A dangling symbolic link is still an installed entry that must be moved aside, not replaced.
bool isPresent(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}
}

FileReplaceTaskSpecification::FileReplaceTaskSpecification(
    const FileReplaceSpecification& specification, QList<QString>* deleteList,
    RollbackDataList* parentRollbackList, Configuration* configuration, QObject* parent,
    double progressRange)
    : ComposedTaskSpecification(1, progressRange, parent)
    , specification(specification)
    , deleteList(deleteList)
    , parentRollbackList(parentRollbackList)
    , configuration(configuration)
{
}

void FileReplaceTaskSpecification::execute()
{
    emit message(QStringLiteral("add/replace %1").arg(specification.fileName));
    makeSubtasksAndStart();
}

void FileReplaceTaskSpecification::makeSubtasksAndStart()
{
    const QString source
        = QFileInfo(QDir(configuration->tempDir), specification.fileName).filePath();
    const QString destination = installPath(specification.destFileName(QString()));
    const QString old = installPath(specification.oldDestFileName());

    double remaining = 1.0;
    if (isPresent(destination)) {
        // Left by an earlier update; the rename aside cannot succeed while it is there.
        if (isPresent(old)) {
            addSubTask(new FileDeleteTaskSpecification(true, old, this, 0.1));
            remaining -= 0.1;
        }
        replacedExisting = true;
        addSubTask(new FileRenameTaskSpecification(destination, old, &rollbackList, this, 0.1));
        remaining -= 0.1;
    }
    if (specification.hasUnzip()) {
        addSubTask(new FileUnzipTaskSpecification(
            &rollbackList, source, destination, this, remaining - 0.2));
        addSubTask(new CheckSignatureTaskSpecification(
            destination, specification.unzippedMd5, true, this, 0.2));
    } else {
        addSubTask(
            new FileCopyTaskSpecification(&rollbackList, source, destination, this, remaining));
    }
    state = TaskRunning;
    executeSubTasks();
}

void FileReplaceTaskSpecification::subtasksDone()
{
    if (getStateFromSubTasks() == TaskFinished) {
        parentRollbackList->appendList(rollbackList);
        if (replacedExisting) {
            // The start of the next run removes the kept-aside copies of the updater's own
            // files, which may still be in use while this run goes on.
            const QString name = QFileInfo(specification.pureDestFilePath()).fileName();
            if (!Configuration::isSpecialFileName(name))
                deleteList->append(specification.oldDestFileName());
        }
        makeSingleFileExecutable(Configuration::getAppRootPath() + QLatin1Char('/')
            + specification.destFileName(QString()));
    } else {
        rollbackList.rollback(this);
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceTaskSpecification::reset()
{
    clearSubTasks();
    rollbackList.rollback(this);
    replacedExisting = false;
    ComposedTaskSpecification::reset();
}

void FileReplaceTaskSpecification::makeSingleFileExecutable(const QString& path)
{
    const QFileInfo info(path);
    if (!executableFiles().contains(info.fileName())
        && !executableSuffixes().contains(info.completeSuffix()))
        return;
    // Execute permission for whoever may read the file, nothing more: a world-writable client
    // or library would let any local user replace the program the next start runs.
    const QFile::Permissions permissions = QFile::permissions(path);
    QFile::Permissions executable = QFile::ExeOwner | QFile::ExeUser;
    if (permissions & QFile::ReadGroup)
        executable |= QFile::ExeGroup;
    if (permissions & QFile::ReadOther)
        executable |= QFile::ExeOther;
    QFile::setPermissions(path, permissions | executable);
}
