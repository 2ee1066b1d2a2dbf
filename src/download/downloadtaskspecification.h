#pragma once

#include "ftpsiteaccessdata.h"
#include "taskspecification.h"

#include <QFile>
#include <QList>
#include <QPointer>
#include <QString>

class Mirrors;
class QNetworkAccessManager;
class QNetworkReply;

// Fetches one file over HTTP from a mirror of the shared list into a local file, streaming it
// to disk in chunks. Every mirror problem (status other than 200, redirect, network or disk
// error, more bytes than expected, no data for more than the mirror's timeoutTicks ticks, less
// than 1 KiB per tick averaged over 30 ticks) is
// charged to that mirror and the download starts again on a freshly chosen one;
// a mirror that answers with a bad status, asks for authentication, sends more than
// maxHeaderBytes of headers or has not completed its headers within its timeoutTicks is
// removed at once. Each download counts its own ticks, so a hostile reply costs no other
// download any time;
// the task fails only when no mirror is left, the local file cannot be created or the manager
// gives no reply. Out of mirrors after one sent more than the file may hold, it fails with that
// as its error: the file is what is wrong, not the network. When every mirror is busy it
// waits for the next reply of the shared manager.
//
// A file of known size continues where it stopped: the bytes of an attempt that failed
// mid-body, or a shorter file found at the local path (left by a killed run), are taken as a
// prefix and the rest is asked for with "Range: bytes=N-". Only a 206 whose Content-Range is
// exactly "bytes N-(size-1)/size" continues the file; a 200 replaces it, and a 416 or any
// other range starts over without one, neither costing the mirror. The bytes of an attempt
// that brought more than expected or failed to write are dropped. Whether a prefix was right
// is for the file's check to tell; whoever runs it removes a file that fails.
//
// The manager and the mirror list are shared and not owned. Main thread only; timeTick is
// expected about once a second and drives the time-out.
class DownloadTaskSpecification : public TaskSpecification
{
    Q_OBJECT
public:
    // expectedSize -1 means unknown (the reply's length is then adopted). Downloads of unknown
    // or zero expected size are capped at unknownSizeLimit bytes. The remote path is a file
    // name as published (decoded); the URL encodes it.
    DownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        const QString& remotePath, const QString& localFileName, qint64 expectedSize,
        QObject* parent, double progressRange);
    ~DownloadTaskSpecification() override;

    static constexpr qint64 maxUnknownSize = 64 * 1024 * 1024;
    // What a download of unknown size may bring; set before execute() for files whose kind
    // bounds them (a product ini, a signature).
    qint64 unknownSizeLimit = maxUnknownSize;
    // Far above the headers of any real mirror's reply; a mirror that sends more is hostile.
    static constexpr qint64 maxHeaderBytes = 16 * 1024;
    // The second half of a signed pair (a file's ".sig") is fetched from the mirror that served
    // the first while that mirror is listed, so that a failed check can be blamed on one
    // mirror. Set before execute(); a sibling task that outlives this one's downloads.
    const DownloadTaskSpecification* sameMirrorAs = nullptr;
    // For an optional file (a signature that older releases lack): a 404 then means the file is
    // not published there. The task finishes without a local file and with absent set, and
    // the mirror is charged nothing. Set before execute().
    bool mayBeAbsent = false;
    bool absent = false;

    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    // The attempt in progress; owned, released with deleteLater().
    QPointer<QNetworkReply> reply;
    qint32 idleTicks = 0;
    QString remotePath;
    QFile localFile;
    qint64 lastTickBytes = 0;
    qint64 expectedSize;
    qint64 initialExpectedSize;
    qint64 bytesWritten = 0;
    // Where the attempt's Range starts; 0 when it asks for the whole file.
    qint64 resumeOffset = 0;
    // Still names the serving mirror after success, so a failed check can blame it.
    FTPSiteAccessData currentMirror;

    void execute() override;
    void reset() override;
    void timeTick(quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick,
        bool& downloading) override;
    void userCanceled() override;
    void handleOtherTaskCancelled(TaskSpecification* other) override;
    virtual void downloadFinished();

public slots:
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onReadyRead();
    void onDownloadFinished();
    void onMetaDataChanged();
    void onOtherDownloadFinished(QNetworkReply* otherReply);

private:
    void releaseMirrorUse();
    void finishAbsent();
    void startDownload();
    // Charges the mirror; the bytes so far stay for the next attempt unless keepPartial is off.
    void errorRetry(const QString& message, bool keepPartial = true);
    // Drops the partial file and asks for the whole file, charging no one.
    void startOver(const QString& message);
    void retry(const QString& message, bool keepPartial);
    void resetDownload(bool keepPartial = false);
    bool openLocalFile();
    bool readData();
    bool rejectStatus();
    bool rejectRange(int status);
    bool contentRangeMatches() const;
    bool rejectHeaders();
    int chooseMirror();
    qint64 sizeLimit() const;
    QString attemptUrl() const;

    // bytesWritten at each of the attempt's latest ticks, oldest first, for the speed check.
    QList<qint64> recentTickBytes;
    // Whether this task holds one use of currentMirror; the name outlives the use.
    bool holdsMirrorUse = false;
    // The attempt's reply has shown its status and headers.
    bool headersReceived = false;
};
