#include "deltaapplytaskspecification.h"

#include "deltaapplyfunc.h"

DeltaApplyTaskSpecification::DeltaApplyTaskSpecification(const FileDownloadSpecification& file,
    const QString& sessionDir, QObject* parent, double progressRange)
    : ASyncTaskSpecification(parent, progressRange)
    , file(file)
    , sessionDir(sessionDir)
{
}

ASyncFunc* DeltaApplyTaskSpecification::createFunction()
{
    return new DeltaApplyFunc(file, sessionDir);
}

void DeltaApplyTaskSpecification::runDone(bool ok)
{
    if (state != TaskRunning)
        return;
    emit applied(ok);
    finish();
}
