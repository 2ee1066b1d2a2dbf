#include "dircreatetaskspecification.h"

#include <QDir>
#include <QFileInfo>

DirCreateTaskSpecification::DirCreateTaskSpecification(
    const QString& path, RollbackDataList* rollbackList, QObject* parent, double progressRange)
    : FastFileOpTaskSpecification(path, rollbackList, parent, progressRange)
{
}

void DirCreateTaskSpecification::plan(
    const QString& path, QSet<QString>& existing, QList<RollbackData>& entries)
{
    // The same walk as tryCreateDir, so that each entry names the path it will be written with.
    const QFileInfo info(path);
    if (existing.contains(path) || info.isDir() || info.exists() || info.isRoot())
        return;
    const QString parentPath = info.dir().path();
    if (parentPath == QStringLiteral("."))
        return;
    if (!QDir(parentPath).exists())
        plan(parentPath, existing, entries);
    entries.append(RollbackData(RollbackData::CreateDir, path));
    existing.insert(path);
}

bool DirCreateTaskSpecification::doOp()
{
    return tryCreateDir(path);
}

bool DirCreateTaskSpecification::tryCreateDir(const QString& dir)
{
    const QFileInfo info(dir);
    if (info.exists()) {
        if (info.isDir())
            return true;
        emit message(
            QStringLiteral("Could not create dir '%1' because it already exists and is not a dir")
                .arg(dir));
        return false;
    }
    QDir parentDir = info.dir();
    if (parentDir.path() == QStringLiteral(".") || info.isRoot()) {
        emit message(QStringLiteral("Could not create dir %1").arg(path));
        return false;
    }
    if (!parentDir.exists() && !tryCreateDir(parentDir.path()))
        return false;
    RollbackData entry(RollbackData::CreateDir, dir);
    if (!writeAhead(entry))
        return false;
    if (!parentDir.mkdir(QDir(dir).dirName())) {
        forgetRollbackOp(entry);
        emit message(QStringLiteral("unable to create dir %1").arg(dir));
        return false;
    }
    addRollbackOp(entry);
    return true;
}
