#pragma once

#include "asynctaskspecification.h"
#include "filespecifications.h"

class Configuration;

// Builds the update plan on a worker thread into a plan of its own and publishes it into the
// caller's plan only on success, on the main thread; on failure the caller's plan is untouched.
// The caller's plan and the configuration must outlive the task. A refused product ini fails
// the task with an error that gives the function's last word, so the run can say why.
class MakeDownloadReplaceListTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT
public:
    MakeDownloadReplaceListTaskSpecification(Configuration* configuration, FileSpecifications& plan,
        QObject* parent, double progressRange);

    Configuration* configuration;
    FileSpecifications& targetPlan;
    FileSpecifications workingPlan;

    ASyncFunc* createFunction() override;
    void runDone(bool ok) override;

private:
    QString lastMessage;
};
