#include "rollbackdata.h"

#include "nameswap.h"
#include "pathstat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>

#include <cstdio>

#include <sys/stat.h>

namespace {
// Two names of one file: a copy kept aside by a hard link while the original stays in place.
bool sameFile(const QString& a, const QString& b)
{
    struct stat first, second;
    return PathStat::exists(a, &first) && PathStat::exists(b, &second)
        && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
}

RollbackData::RollbackData(Operation operation, const QString& path)
    : path(path)
    , operation(operation)
{
}

RollbackData::RollbackData(Operation operation, const QString& from, const QString& to)
    : path(to)
    , previousPath(from)
    , operation(operation)
{
}

bool RollbackData::rollback(QObject* reporter) const
{
    switch (operation) {
    case Rename:
        // The file never left its name; dropping the second name undoes the link.
        if (sameFile(path, previousPath) ? QFile::remove(path) : QFile::rename(path, previousPath))
            return true;
        message(reporter,
            QStringLiteral("warning: rollback rename %1 to %2 failed").arg(previousPath, path));
        return false;
    case CreateFile:
        if (QFile::remove(path))
            return true;
        message(reporter, QStringLiteral("warning: rollback create file %1 failed").arg(path));
        return false;
    case Exchange:
        if (NameSwap::swap(previousPath, path))
            return true;
        message(reporter,
            QStringLiteral("warning: rollback exchange of %1 and %2 failed")
                .arg(previousPath, path));
        return false;
    case CreateDir:
        // rmdir removes empty directories only, so whatever someone put there meanwhile stays.
        if (QFileInfo(path).dir().rmdir(QDir(path).dirName()))
            return true;
        message(reporter, QStringLiteral("warning: rollback create dir %1 failed").arg(path));
        return false;
    }
    qFatal("Should not reach here");
}

bool RollbackData::undoIfDone(QObject* reporter) const
{
    if (moved.isKnown())
        return moved.matches(operation == Exchange ? previousPath : path) ? rollback(reporter)
                                                                           : true;
    if (!PathStat::exists(path))
        return true;
    // The name to restore is still there, and is not the same file: the rename never happened.
    if (operation == Rename && PathStat::exists(previousPath) && !sameFile(path, previousPath))
        return true;
    // Still a directory where one was before the swap: it never happened.
    if (operation == Exchange
        && (PathStat::isDirectory(previousPath) || !PathStat::isDirectory(path)))
        return true;
    return rollback(reporter);
}

bool RollbackData::undoReplacement(
    const RollbackData& install, const RollbackData& keptAside, bool readBack, QObject* reporter)
{
    const QString& installed = install.path;
    const QString& kept = keptAside.path;
    if (readBack && keptAside.moved.isKnown() && !keptAside.moved.matches(kept))
        return true;
    if (!PathStat::exists(kept)) {
        if (!readBack)
            message(reporter,
                QStringLiteral("warning: rollback of %1 failed: its old copy %2 is gone")
                    .arg(installed, kept));
        return readBack;
    }
    // Still linked: the new file never took the name, the second name is all there is to undo.
    if (sameFile(installed, kept))
        return keptAside.rollback(reporter);
    if (::rename(QFile::encodeName(kept).constData(), QFile::encodeName(installed).constData())
        == 0)
        return true;
    // A directory kept aside cannot be renamed over the file that took its name: step by step.
    return (readBack ? install.undoIfDone(reporter) : install.rollback(reporter))
        && keptAside.rollback(reporter);
}

void RollbackData::message(QObject* reporter, const QString& text)
{
    if (reporter)
        QMetaObject::invokeMethod(reporter, "message", Q_ARG(QString, text));
}
