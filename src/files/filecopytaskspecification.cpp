#include "filecopytaskspecification.h"

#include "filecopyfunc.h"

FileCopyTaskSpecification::FileCopyTaskSpecification(RollbackDataList* rollbackList,
    const QString& source, const QString& destination, QObject* parent, double progressRange)
    : SlowFileOpSpecification(
        QStringLiteral("Could not copy '%1' to '%2'").arg(source, destination), rollbackList,
        source, destination, parent, progressRange)
{
}

ASyncFunc* FileCopyTaskSpecification::createFunction()
{
    return new FileCopyFunc(sourcePath, destinationPath, permissions);
}
