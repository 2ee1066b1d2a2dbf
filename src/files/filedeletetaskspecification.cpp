#include "filedeletetaskspecification.h"

#include "configuration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FileDeleteTaskSpecification::FileDeleteTaskSpecification(
    bool failOnError, const QString& path, QObject* parent, double progressRange)
    : FastFileOpTaskSpecification(path, nullptr, parent, progressRange)
    , failOnError(failOnError)
{
}

bool FileDeleteTaskSpecification::doOp()
{
    if (remove(path) || !failOnError)
        return true;
    emit message(QStringLiteral("Could not delete '%1'").arg(path));
    return false;
}

bool FileDeleteTaskSpecification::remove(const QString& path)
{
    if (QFile::remove(path))
        return true;
    // Only a set-aside copy is ever removed with its content; any other directory stays.
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink()
        && info.fileName().startsWith(Configuration::getSpecialFileRenamePrefix())
        && QDir(path).removeRecursively();
}
