#pragma once

#include "slowfileopspecification.h"

// Copies a file on a worker thread and journals the created destination.
class FileCopyTaskSpecification : public SlowFileOpSpecification
{
    Q_OBJECT
public:
    FileCopyTaskSpecification(RollbackDataList* rollbackList, const QString& source,
        const QString& destination, QObject* parent, double progressRange);

    ASyncFunc* createFunction() override;
};
