#include "filerenametaskspecification.h"

FileRenameTaskSpecification::FileRenameTaskSpecification(const QString& from, const QString& to,
    RollbackDataList* rollbackList, QObject* parent, double progressRange)
    : FastFileOpTaskSpecification(to, rollbackList, parent, progressRange)
    , fromPath(from)
{
}

bool FileRenameTaskSpecification::doOp()
{
    return journalledRename(fromPath, path);
}
