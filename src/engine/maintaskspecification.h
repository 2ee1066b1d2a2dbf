#pragma once

#include "composedtaskspecification.h"
#include "filespecifications.h"

class Configuration;
class DownloadFileListTaskSpecification;
class FileDeleteListTaskSpecification;
class FileReplaceListTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// The root task of one update run. execute() builds the six steps up front (product ini, its
// file list, plan, downloads, replacement, deletion) and runs them one after another. The first
// three take 0.05 of the progress; once the plan is made, the rest is shared among the last
// three by the work the plan holds (PlanWork), so the bar follows the bytes; the first cancelled
// step ends the run. Once the replacement has committed, the update is done: a cancellation is
// ignored (and said so) and the delete step runs to its end, so a run is never reported as aborted
// while the new version is in place. The task owns the plan the steps fill and read: the later
// steps hold pointers into it and read their lists only when they execute, and being the task's
// children they never outlive it. The shared objects are not owned. The engine creates one per run
// and deletes it (deferred) once it finished or cancelled.
//
// A target older than what is installed ends the run at once, with nothing fetched (see
// TargetVersionCheck); a committed replacement makes its version the installed one.
class MainTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    MainTaskSpecification(QNetworkAccessManager* networkManager, Mirrors* mirrors,
        Configuration* configuration, QObject* parent, double progressRange);

    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    Configuration* configuration;
    FileSpecifications plan;

    void execute() override;
    void reset() override;
    void userCanceled() override;
    void makeSubtasksAndStart();
    // The replacement has committed: the new version is installed, whatever follows.
    bool committed() const;

private slots:
    void onPlanMade();
    // Records the committed version as the installed one, and what it was verified with.
    void onReplacementFinished();

private:
    // The shares of the steps before the plan.
    static constexpr double planSteps = 0.05;

    DownloadFileListTaskSpecification* downloads = nullptr;
    FileReplaceListTaskSpecification* replacement = nullptr;
    FileDeleteListTaskSpecification* deletion = nullptr;
};
