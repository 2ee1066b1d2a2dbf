#pragma once

#include "slowfileopspecification.h"

// Unpacks a gzip file on a worker thread and journals the created destination. A stream that
// unpacks to more than maxSize bytes fails the task.
class FileUnzipTaskSpecification : public SlowFileOpSpecification
{
    Q_OBJECT
public:
    FileUnzipTaskSpecification(RollbackDataList* rollbackList, const QString& source,
        const QString& destination, QObject* parent, double progressRange);

    ASyncFunc* createFunction() override;

    // The most bytes the unpacked file may have; 0 for no limit.
    quint64 maxSize = 0;
};
