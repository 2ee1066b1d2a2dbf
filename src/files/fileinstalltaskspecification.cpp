#include "fileinstalltaskspecification.h"

#include "nameswap.h"
#include "pathstat.h"

#include <QFile>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileInstallTaskSpecification::FileInstallTaskSpecification(const QString& newPath,
    const QString& path, const QString& oldPath, RollbackDataList* rollbackList, QObject* parent,
    double progressRange)
    : FastFileOpTaskSpecification(path, rollbackList, parent, progressRange)
    , newPath(newPath)
    , oldPath(oldPath)
{
}

QList<RollbackData> FileInstallTaskSpecification::plannedEntries(const QString& newPath,
    const QString& path, const QString& oldPath, const FileIdentity& written,
    const struct stat* installed)
{
    RollbackData install(RollbackData::Rename, newPath, path);
    install.moved = written;
    if (oldPath.isEmpty() || !installed)
        return { install };
    if (S_ISDIR(installed->st_mode)) {
        RollbackData swap(RollbackData::Exchange, path, newPath);
        swap.moved = written;
        RollbackData aside(RollbackData::Rename, newPath, oldPath);
        aside.moved = FileIdentity::ofEntry(*installed);
        return { swap, aside };
    }
    RollbackData aside(RollbackData::Rename, path, oldPath);
    aside.moved = FileIdentity::ofEntry(*installed);
    return { aside, install };
}

bool FileInstallTaskSpecification::doOp()
{
    if (oldPath.isEmpty()) {
        RollbackData install(RollbackData::Rename, newPath, path);
        return writeAhead(install) && putInPlace(install);
    }
    if (PathStat::isDirectory(path))
        return swapWithDirectory();
    return replaceKeepingOld();
}

bool FileInstallTaskSpecification::replaceKeepingOld()
{
    // Both steps in one journal write, the kept copy first: a replay tells by the kept name
    // which of them took effect, so naming the second before the first has happened is safe.
    RollbackData aside(RollbackData::Rename, path, oldPath);
    RollbackData install(RollbackData::Rename, newPath, path);
    if (!writeAhead({ &aside, &install }))
        return false;
    if (!keepOldAside(aside)) {
        forgetRollbackOp(install);
        return false;
    }
    return putInPlace(install);
}

bool FileInstallTaskSpecification::putInPlace(const RollbackData& entry)
{
    // Over the installed file in one step; a new file must not take a name that appeared
    // meanwhile, which QFile::rename refuses.
    const bool renamed = oldPath.isEmpty()
        ? QFile::rename(newPath, path)
        : ::rename(QFile::encodeName(newPath).constData(), QFile::encodeName(path).constData())
            == 0;
    if (!renamed)
        return fail(entry);
    addRollbackOp(entry);
    return true;
}

// A directory cannot be hard-linked aside: the new file and the directory trade names in one
// step, so that the name is never missing, and the directory then takes its "_old_" name.
bool FileInstallTaskSpecification::swapWithDirectory()
{
    RollbackData swap(RollbackData::Exchange, path, newPath);
    if (!writeAhead(swap))
        return false;
    if (!NameSwap::swap(path, newPath)) {
        const int error = errno;
        forgetRollbackOp(swap);
        if (!NameSwap::isUnsupported(error))
            return fail(swap);
        return replaceKeepingOld();
    }
    addRollbackOp(swap);
    RollbackData aside(RollbackData::Rename, newPath, oldPath);
    if (!writeAhead(aside))
        return false;
    if (!QFile::rename(newPath, oldPath))
        return fail(aside);
    addRollbackOp(aside);
    return true;
}

bool FileInstallTaskSpecification::keepOldAside(const RollbackData& entry)
{
    const QByteArray from = QFile::encodeName(path);
    const QByteArray to = QFile::encodeName(oldPath);
    // No flag: a symbolic link is kept as the link it is.
    if (::linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), 0) != 0) {
        const bool noLinks = errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV
            || errno == EMLINK || errno == ENOSYS;
        if (!noLinks || !QFile::rename(path, oldPath))
            return fail(entry);
    }
    addRollbackOp(entry);
    return true;
}

bool FileInstallTaskSpecification::fail(const RollbackData& entry)
{
    forgetRollbackOp(entry);
    emit message(
        QStringLiteral("Could not rename '%1' to '%2'").arg(entry.previousPath, entry.path));
    return false;
}
