#pragma once

#include "composedtaskspecification.h"
#include "filedownloadspecification.h"

#include <QStringList>

class CheckSignatureTaskSpecification;
class Configuration;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// Downloads one planned file to tempDir + "/" + fileName and checks it (by MD5, or, when no
// MD5 is listed, by its signature, whose ".sig" is downloaded first to tempDir + "/" +
// signatureName; and by the SHA-256 of the release's file list when it has one), one after
// the other; the ".sig" comes from the file's mirror while that
// mirror is listed. A file that fails its check is blamed on the mirror that served it (and its
// ".sig"): the mirror is removed and the file fetched and checked again elsewhere, so retries
// end when the mirrors do; the check that leaves no mirror is reported as an error naming the
// file and the mirrors whose copies failed. A signed file whose halves came from two mirrors (the
// first failed the ".sig" transfer, which costs it an error) blames neither and is fetched again.
//
// A file with a delta first tries that: the delta comes through the same mirrors and checks as
// any download (a 404 costs no mirror), is applied to the installed file and the result checked
// like the file itself (DeltaApplyTaskSpecification). A delta that is absent, damaged, made from
// another base or makes a wrong file blames no mirror: the whole file is downloaded instead, as
// for a file without a delta. Shared objects are not owned.
class DownloadFileTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    DownloadFileTaskSpecification(const FileDownloadSpecification& file,
        QNetworkAccessManager* manager, Mirrors* mirrors, Configuration* configuration,
        QObject* parent, double progressRange);

    QString section;
    QString fileName;
    QString md5;
    qint64 size;
    // Empty when the release has no file list.
    QString sha256;
    // Where the ".sig" of a signature-checked file goes, relative to tempDir: fileName + ".sig"
    // unless the list task gives another name, because another task of the list writes that
    // one. A name other than fileName + ".sig" is removed after the check.
    QString signatureName;
    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    Configuration* configuration;
    // The download of the current attempt; a subtask, owned by this task.
    DownloadTaskSpecification* downloadTask = nullptr;
    // The download of the file's ".sig" when it has no MD5; null otherwise.
    DownloadTaskSpecification* signatureTask = nullptr;

    void execute() override;
    void reset() override;
    void handleOtherTaskCancelled(TaskSpecification* other) override;
    void subtasksDone() override;
    void timeTick(quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick,
        bool& downloading) override;
    void makeSubtasksAndStart();
    // What this task downloads: the delta's size while it tries the delta, the file's after.
    qint64 plannedBytes() const;

public slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);

private:
    void makeDeltaSubtasksAndStart();
    void onDeltaApplied(bool ok);
    void downloadWholeFile();
    // Starts the file again from its first step, or stops as a cancelled or failed task.
    void startOver();
    void stop();
    // True when the file still has its delta to try.
    bool tryingDelta = false;
    // The bytes of this run's delta attempt, which stay downloaded after a fallback.
    qint64 deltaBytesDone = 0;
    // The whole file as planned, delta included.
    FileDownloadSpecification file;
    // Set when a sibling's cancellation reached this task: a failed check then ends it.
    bool siblingCanceled = false;
    // The mirrors whose copy of the file failed its check in this run.
    QStringList failedOn;
};
