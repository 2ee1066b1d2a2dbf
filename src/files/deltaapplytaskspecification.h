#pragma once

#include "asynctaskspecification.h"
#include "filedownloadspecification.h"

// Runs a DeltaApplyFunc on the thread pool as a task. It always ends in finish(): a delta that
// cannot be used is no failure of the update, its file is downloaded whole instead. Before it
// ends it emits applied on the main thread, so that a listener connected directly can start
// that download.
class DeltaApplyTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
public:
    DeltaApplyTaskSpecification(const FileDownloadSpecification& file, const QString& sessionDir,
        QObject* parent, double progressRange);

    ASyncFunc* createFunction() override;
    void runDone(bool ok) override;

signals:
    void applied(bool ok);

private:
    FileDownloadSpecification file;
    QString sessionDir;
};
