#include "filedeletetaskspecification.h"

#include <QFile>

FileDeleteTaskSpecification::FileDeleteTaskSpecification(
    bool failOnError, const QString& path, QObject* parent, double progressRange)
    : FastFileOpTaskSpecification(path, nullptr, parent, progressRange)
    , failOnError(failOnError)
{
}

bool FileDeleteTaskSpecification::doOp()
{
    if (QFile::remove(path) || !failOnError)
        return true;
    emit message(QStringLiteral("Could not delete '%1'").arg(path));
    return false;
}
