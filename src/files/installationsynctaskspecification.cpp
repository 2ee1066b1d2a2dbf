#include "installationsynctaskspecification.h"

#include "installationsyncfunc.h"

InstallationSyncTaskSpecification::InstallationSyncTaskSpecification(
    const QString& rootPath, QObject* parent, double progressRange)
    : ASyncTaskSpecification(parent, progressRange)
    , rootPath(rootPath)
{
}

ASyncFunc* InstallationSyncTaskSpecification::createFunction()
{
    return new InstallationSyncFunc(rootPath);
}
