#include "fileunziptaskspecification.h"

#include "fileunzipfunc.h"

FileUnzipTaskSpecification::FileUnzipTaskSpecification(RollbackDataList* rollbackList,
    const QString& source, const QString& destination, QObject* parent, double progressRange)
    : SlowFileOpSpecification(
        QStringLiteral("Could not unzip '%1' to '%2'").arg(source, destination), rollbackList,
        source, destination, parent, progressRange)
{
}

ASyncFunc* FileUnzipTaskSpecification::createFunction()
{
    return new FileUnzipFunc(sourcePath, destinationPath, permissions, maxSize);
}
