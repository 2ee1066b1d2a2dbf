#include "filerenametaskspecification.h"

#include <QFile>

FileRenameTaskSpecification::FileRenameTaskSpecification(const QString& from, const QString& to,
    RollbackDataList* rollbackList, QObject* parent, double progressRange)
    : FastFileOpTaskSpecification(to, rollbackList, parent, progressRange)
    , fromPath(from)
{
}

bool FileRenameTaskSpecification::doOp()
{
    RollbackData entry(RollbackData::Rename, fromPath, path);
    if (!writeAhead(entry))
        return false;
    if (!QFile::rename(fromPath, path)) {
        forgetRollbackOp(entry);
        emit message(QStringLiteral("Could not rename '%1' to '%2'").arg(fromPath, path));
        return false;
    }
    addRollbackOp(entry);
    return true;
}
