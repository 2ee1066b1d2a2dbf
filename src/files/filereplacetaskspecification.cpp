#include "filereplacetaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "filecopytaskspecification.h"
#include "filedeletetaskspecification.h"
#include "fileinstalltaskspecification.h"
#include "filerenametaskspecification.h"
#include "fileunziptaskspecification.h"
#include "pathstat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>

#include <sys/stat.h>

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

// Executable for everyone, writable by the owner only: a file every local user could write
// would let any of them change the client, the updater or a library.
constexpr int executableMode = 0755;
constexpr int newFileMode = 0644;
// Up to this size a file is copied on the main thread (see SlowFileOpSpecification::runHere).
constexpr quint64 inlineCopyLimit = 1 << 20;

}

QString FileReplaceTaskSpecification::unusedName(const QString& path)
{
    QString name;
    do {
        name = path
            + QStringLiteral(".%1").arg(
                QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    } while (PathStat::exists(name));
    return name;
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
    if (subTasks.isEmpty())
        prepare();
    executeSubTasksNow();
}

QList<RollbackData> FileReplaceTaskSpecification::prepare()
{
    const QString source
        = QFileInfo(QDir(configuration->tempDir), specification.fileName).filePath();
    const QString destination
        = Configuration::getAppRootFilePath(specification.destFileName(QString()));
    const QString old = Configuration::getAppRootFilePath(specification.oldDestFileName());
    // Written beside the destination, so that putting it in place is a rename.
    const QString fresh
        = unusedName(QFileInfo(destination)
                         .dir()
                         .filePath(QStringLiteral(".new_") + QFileInfo(destination).fileName()));
    rollbackList.journalFile = parentRollbackList->journalFile;

    struct stat installed;
    replacedExisting = PathStat::exists(destination, &installed);
    // A directory the new version replaces by a file lends it no mode, and no file keeps write
    // bits for others: any local user could change the client through them.
    int permissions = replacedExisting && S_ISREG(installed.st_mode)
        ? int(installed.st_mode & 0777 & ~(S_IWGRP | S_IWOTH))
        : newFileMode;
    if (isExecutableByRule(destination))
        permissions = executableMode;

    QList<RollbackData> plan;
    double remaining = 1.0;
    if (replacedExisting && PathStat::exists(old)) {
        // Left by an earlier update, and maybe the only good copy while the installed file is
        // not current: moved out of the way, and deleted only once the new file is in place.
        leftOverCopy = unusedName(old);
        addSubTask(new FileRenameTaskSpecification(old, leftOverCopy, &rollbackList, this, 0.1));
        plan.append(RollbackData(RollbackData::Rename, old, leftOverCopy));
        plan.last().moved = FileIdentity::ofEntry(old);
        remaining -= 0.1;
    }
    SlowFileOpSpecification* write;
    FileIdentity written;
    if (specification.hasUnzip()) {
        auto* unzip
            = new FileUnzipTaskSpecification(&rollbackList, source, fresh, this, remaining - 0.3);
        // The listed size is what the checksum below vouches for; nothing longer can pass it.
        unzip->maxSize = specification.unzippedSize;
        write = unzip;
        addSubTask(write);
        addSubTask(
            new CheckSignatureTaskSpecification(fresh, specification.unzippedMd5, true, this, 0.2));
        written = FileIdentity::ofContent(specification.unzippedSize, specification.unzippedMd5);
    } else {
        write = new FileCopyTaskSpecification(&rollbackList, source, fresh, this, remaining - 0.1);
        write->runHere = specification.size <= inlineCopyLimit;
        addSubTask(write);
        written = FileIdentity::ofContent(specification.size, specification.md5);
    }
    write->permissions = permissions;
    plan.append(RollbackData(RollbackData::CreateFile, fresh));
    addSubTask(new FileInstallTaskSpecification(
        fresh, destination, replacedExisting ? old : QString(), &rollbackList, this, 0.1));
    plan.append(FileInstallTaskSpecification::plannedEntries(fresh, destination,
        replacedExisting ? old : QString(), written, replacedExisting ? &installed : nullptr));
    return plan;
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
        if (!leftOverCopy.isEmpty())
            deleteList->append(
                QDir(Configuration::getAppRootPath()).relativeFilePath(leftOverCopy));
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
    leftOverCopy.clear();
    ComposedTaskSpecification::reset();
}

bool FileReplaceTaskSpecification::isExecutableByRule(const QString& path)
{
    const QFileInfo info(path);
    return executableFiles().contains(info.fileName())
        || executableSuffixes().contains(info.completeSuffix());
}

void FileReplaceTaskSpecification::makeSingleFileExecutable(const QString& path)
{
    // chmod follows a symbolic link, which may lead anywhere. A needless chmod would change the
    // file's change time, and the stat cache would hash it again on every run.
    struct stat info;
    if (isExecutableByRule(path) && ::lstat(QFile::encodeName(path).constData(), &info) == 0
        && S_ISREG(info.st_mode) && (info.st_mode & 07777) != executableMode)
        ::chmod(QFile::encodeName(path).constData(), executableMode);
}
