#pragma once

#include "asynctaskspecification.h"

// Makes the new files of an update durable before anything is deleted: until then the "_old_"
// copies are the only complete version on disk should the power fail.
class InstallationSyncTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
public:
    InstallationSyncTaskSpecification(
        const QString& rootPath, QObject* parent, double progressRange);

    ASyncFunc* createFunction() override;

private:
    QString rootPath;
};
