#pragma once

#include "asynctaskspecification.h"
#include "rollbackdata.h"

struct RollbackDataList;

// A file operation from sourcePath to a new file destinationPath done by a worker function on
// the thread pool; the new file gets the permission bits `permissions` before it is complete.
// The destination is written ahead to the journal file when the task starts and journalled in
// memory (on the main thread) once it exists; on failure errorMessage is emitted as a message
// and the task error-cancels, journalling nothing in memory.
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
    int permissions = 0644;
    // Done at once on the main thread: for a small file the hand-over to the pool and back
    // costs more than the operation.
    bool runHere = false;

private:
    RollbackData created { RollbackData::CreateFile, QString() };

    void execute() override;
    void runDone(bool ok) override;
};
