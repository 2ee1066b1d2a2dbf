#pragma once

#include "asyncfunc.h"
#include "filedownloadspecification.h"

// Turns a downloaded delta into the file it stands for: checks the delta's SHA-256, applies it
// to the installed base (DeltaApplier) into the delta's result name, checks the result exactly
// as a downloaded file is checked (MD5, and the file list's SHA-256 when the release has one;
// the size is the applier's), and only then moves it to the name the download would have
// written. The delta is removed in any case, a result that fails with it. A failure is a false
// result with one message saying why. Runs on a worker thread.
class DeltaApplyFunc : public ASyncFunc
{
    Q_OBJECT
public:
    DeltaApplyFunc(const FileDownloadSpecification& file, const QString& sessionDir);

    bool run() override;

private:
    bool apply(const QString& deltaPath, const QString& resultPath, QString& problem) const;

    FileDownloadSpecification file;
    QString sessionDir;
};
