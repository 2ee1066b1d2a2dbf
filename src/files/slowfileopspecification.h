#pragma once

#include "asynctaskspecification.h"

struct RollbackDataList;

// A file operation from sourcePath to destinationPath done by a worker function on the thread
// pool. On success the created destination is journalled (on the main thread); on failure
// errorMessage is emitted as a message and the task error-cancels, journalling nothing.
class SlowFileOpSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
public:
    SlowFileOpSpecification(const QString& errorMessage, RollbackDataList* rollbackList,
        const QString& sourcePath, const QString& destinationPath, QObject* parent,
        double progressRange);

    RollbackDataList* rollbackList;
    QString sourcePath;
    QString destinationPath;
    QString errorMessage;

    void runDone(bool ok) override;
};
