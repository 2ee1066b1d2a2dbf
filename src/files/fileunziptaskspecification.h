#pragma once

#include "slowfileopspecification.h"

// Unpacks a gzip file on a worker thread and journals the created destination.
class FileUnzipTaskSpecification : public SlowFileOpSpecification
{
    Q_OBJECT
public:
    FileUnzipTaskSpecification(RollbackDataList* rollbackList, const QString& source,
        const QString& destination, QObject* parent, double progressRange);

    ASyncFunc* createFunction() override;
};
