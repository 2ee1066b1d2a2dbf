#include "downloadtaskspecification.h"

#include "mirrors.h"
#include "mirrorurl.h"

#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {
// Each chunk is one write and one progress report up the task tree: small chunks cost more in
// reports than in copying.
constexpr qint64 chunkSize = 64 * 1024;
// What a reply may hold unread: the network layer stops reading from the socket beyond it, so
// memory stays bounded when the network outpaces the disk or the main thread.
constexpr qint64 replyBufferSize = 512 * 1024;
// An attempt must bring at least minBytesPerTick bytes per tick on average over twice the
// mirror's silence time-out: a mirror that trickles just often enough to beat the time-out
// would otherwise hold a download for ever.
constexpr qint64 minBytesPerTick = 1024;
} // namespace

DownloadTaskSpecification::DownloadTaskSpecification(QNetworkAccessManager* manager,
    Mirrors* mirrors, const QString& remotePath, const QString& localFileName, qint64 expectedSize,
    QObject* parent, double progressRange)
    : TaskSpecification(parent, progressRange)
    , networkManager(manager)
    , mirrors(mirrors)
    , remotePath(remotePath)
    , localFile(localFileName)
    , expectedSize(expectedSize)
    , initialExpectedSize(expectedSize)
{
}

DownloadTaskSpecification::~DownloadTaskSpecification()
{
    // The mirror list may already be gone; only what this task owns is cleaned up.
    if (reply) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (localFile.isOpen()) {
        localFile.close();
        localFile.remove();
    }
}

void DownloadTaskSpecification::execute()
{
    emit message(QStringLiteral("Downloading %1").arg(remotePath));
    state = TaskRunning;
    startDownload();
}

void DownloadTaskSpecification::reset()
{
    resetDownload();
    TaskSpecification::reset();
}

int DownloadTaskSpecification::chooseMirror()
{
    if (sameMirrorAs && !sameMirrorAs->currentMirror.name.isEmpty()) {
        const int choice = mirrors->takeMirror(sameMirrorAs->currentMirror.name, currentMirror);
        if (choice != Mirrors::NoMirrorLeft)
            return choice;
    }
    return mirrors->getRandomMirror(currentMirror);
}

void DownloadTaskSpecification::startDownload()
{
    const int choice = chooseMirror();
    if (choice == Mirrors::NoMirrorLeft) {
        // Where a file, not the network, is what failed (too large, or on no mirror), the run
        // says so; without a reason it would read as cut off.
        const QString blame = mirrors->takeBlame();
        if (!blame.isEmpty() && !userCancelRequested)
            emit error(blame);
        errorCancel();
        return;
    }
    if (choice == Mirrors::AllMirrorsBusy) {
        connect(networkManager, &QNetworkAccessManager::finished, this,
            &DownloadTaskSpecification::onOtherDownloadFinished,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
        return;
    }
    holdsMirrorUse = true;

    if (!openLocalFile()) {
        emit error(QStringLiteral("Unable to create file %1 for saving").arg(localFile.fileName()));
        resetDownload();
        errorCancel();
        return;
    }

    QNetworkRequest request { MirrorUrl::fileUrl(currentMirror.url, remotePath) };
    // A redirect must arrive as a status other than 200: it fails the mirror.
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // The checks are over the bytes as published. Packed files are gzip data, and a server
    // that labels them "Content-Encoding: gzip" would otherwise have them unpacked on the way;
    // asking for the identity encoding also turns the network layer's unpacking off.
    request.setRawHeader("Accept-Encoding", "identity");
    if (resumeOffset > 0)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(resumeOffset) + '-');
    reply = networkManager->get(request);
    if (!reply) {
        emit error(QStringLiteral("Download failed to initialize"));
        resetDownload();
        errorCancel();
        return;
    }
    if (reply->isFinished()) {
        errorRetry(reply->errorString());
        return;
    }
    reply->setReadBufferSize(replyBufferSize);
    connect(reply, &QNetworkReply::downloadProgress, this,
        &DownloadTaskSpecification::onDownloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, &DownloadTaskSpecification::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &DownloadTaskSpecification::onDownloadFinished);
    connect(reply, &QNetworkReply::metaDataChanged, this,
        &DownloadTaskSpecification::onMetaDataChanged);
}

bool DownloadTaskSpecification::openLocalFile()
{
    resumeOffset = 0;
    // Files of unknown size are small, and there is nothing to measure a prefix of one against.
    // A file as long as expected or longer is no prefix: it is fetched again whole.
    const qint64 found = initialExpectedSize > 0 && localFile.exists() ? localFile.size() : 0;
    if (found > 0 && found < initialExpectedSize) {
        if (localFile.open(QIODevice::ReadWrite) && localFile.seek(found)) {
            resumeOffset = found;
            bytesWritten = found;
            lastTickBytes = found;
            return true;
        }
        localFile.close();
    }
    return localFile.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void DownloadTaskSpecification::onOtherDownloadFinished(QNetworkReply*)
{
    disconnect(networkManager, nullptr, this, nullptr);
    // A task that ended while it waited (cancelled by the user or by a sibling) stays ended.
    if (!reply && state == TaskRunning && !userCancelRequested)
        startDownload();
}

void DownloadTaskSpecification::onMetaDataChanged()
{
    if (!reply || rejectStatus() || rejectHeaders())
        return;
    // The announced length is the first progress report: the reply's own reports are
    // throttled and may come only at the end.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid())
        onDownloadProgress(0, length.toLongLong());
}

bool DownloadTaskSpecification::rejectStatus()
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return false;
    if (resumeOffset > 0 && rejectRange(status.toInt()))
        return true;
    if (status.toInt() == 200 || (status.toInt() == 206 && resumeOffset > 0))
        return false;
    if (mayBeAbsent && status.toInt() == 404) {
        finishAbsent();
        return true;
    }
    if (status.toInt() == 404)
        mirrors->removeNotPublishing(currentMirror.name, remotePath);
    else
        mirrors->removeMirror(currentMirror.name);
    // One multi-argument arg(): a URL may hold "%2"-like escapes.
    errorRetry(QStringLiteral("%1 returned %2").arg(attemptUrl(), QString::number(status.toInt())));
    return true;
}

bool DownloadTaskSpecification::rejectRange(int status)
{
    // Mirrors that do not serve ranges, or not this one, are healthy: they cost nothing.
    if (status == 206 && !contentRangeMatches()) {
        startOver(QStringLiteral("file %1: mirror %2 sent another range than bytes %3-, "
                                 "starting over")
                      .arg(remotePath, currentMirror.name, QString::number(resumeOffset)));
        return true;
    }
    if (status == 416) {
        startOver(QStringLiteral("file %1: mirror %2 cannot continue at byte %3, starting over")
                      .arg(remotePath, currentMirror.name, QString::number(resumeOffset)));
        return true;
    }
    if (status != 200)
        return false;
    // The whole file follows; it replaces the prefix.
    if (!localFile.resize(0) || !localFile.seek(0)) {
        errorRetry(localFile.errorString(), false);
        return true;
    }
    resumeOffset = 0;
    bytesWritten = 0;
    lastTickBytes = 0;
    recentTickBytes.clear();
    setProgress(0.0);
    return false;
}

bool DownloadTaskSpecification::contentRangeMatches() const
{
    const QByteArray range = "bytes " + QByteArray::number(resumeOffset) + '-'
        + QByteArray::number(initialExpectedSize - 1) + '/'
        + QByteArray::number(initialExpectedSize);
    return reply->rawHeader("Content-Range").trimmed() == range;
}

bool DownloadTaskSpecification::rejectHeaders()
{
    qint64 headerBytes = 0;
    for (const QNetworkReply::RawHeaderPair& header : reply->rawHeaderPairs())
        headerBytes += header.first.size() + header.second.size() + 4; // ": " and CRLF
    if (headerBytes <= maxHeaderBytes) {
        headersReceived = true;
        return false;
    }
    mirrors->removeMirror(currentMirror.name);
    errorRetry(QStringLiteral("file %1 came with %2 bytes of headers from mirror %3")
                   .arg(remotePath, QString::number(headerBytes), currentMirror.name));
    return true;
}

void DownloadTaskSpecification::onReadyRead()
{
    readData();
}

bool DownloadTaskSpecification::readData()
{
    char buffer[chunkSize];
    for (;;) {
        if (!reply)
            return true;
        idleTicks = 0;
        const qint64 available = reply->bytesAvailable();
        if (available <= 0)
            return true;
        const qint64 bytesRead = reply->read(buffer, qMin(chunkSize, available));
        if (bytesRead < 0) {
            errorRetry(reply->errorString());
            return false;
        }
        if (bytesRead == 0)
            return true;
        // A mirror that sends more than the file can hold is faulty or hostile; nothing past
        // the limit reaches the disk.
        if (bytesWritten + bytesRead > sizeLimit()) {
            mirrors->blameOversize(remotePath,
                initialExpectedSize > 0
                    ? QStringLiteral("%1 on the mirrors is larger than the %2 bytes listed for it")
                          .arg(remotePath, QString::number(initialExpectedSize))
                    : QStringLiteral("%1 on the mirrors is larger than the limit of %2")
                          .arg(remotePath, QLocale::c().formattedDataSize(unknownSizeLimit, 0)));
            // What it sent before is suspect too.
            errorRetry(QStringLiteral("file %1 is larger than expected on mirror %2")
                           .arg(remotePath, currentMirror.name),
                false);
            return false;
        }
        const qint64 written = localFile.write(buffer, bytesRead);
        // A failed write leaves the file's length uncertain: no prefix to continue.
        if (written < 0) {
            errorRetry(localFile.errorString(), false);
            return false;
        }
        if (written < bytesRead) {
            errorRetry(QStringLiteral("Error writing to file %1. Should write %2 bytes but wrote "
                                      "%3 bytes")
                           .arg(localFile.fileName(), QString::number(bytesRead),
                               QString::number(written)),
                false);
            return false;
        }
        bytesWritten += written;
        if (expectedSize > 0)
            setProgress(qMin(1.0, double(bytesWritten) / double(expectedSize)));
    }
}

void DownloadTaskSpecification::onDownloadProgress(qint64, qint64 bytesTotal)
{
    // Without a Content-Length the reply reports what it received as the total once it ends;
    // that is no size to measure progress or completeness against.
    if (bytesTotal > 0 && expectedSize == -1 && reply
        && reply->header(QNetworkRequest::ContentLengthHeader).isValid())
        expectedSize = bytesTotal;
}

void DownloadTaskSpecification::onDownloadFinished()
{
    if (!reply)
        return;
    if (reply->error() != QNetworkReply::NoError) {
        if (reply->error() == QNetworkReply::AuthenticationRequiredError) {
            mirrors->removeMirror(currentMirror.name);
            reply->close();
        }
        errorRetry(reply->errorString());
        return;
    }
    // A reply can end without a metadata change having shown a bad status.
    if (rejectStatus() || (!headersReceived && rejectHeaders()) || !readData())
        return;
    // A body that ended before the listed size or its own announced length is the mirror's
    // fault, not the file's: it costs one error rather than the whole mirror at the check.
    if (expectedSize > 0 && bytesWritten < expectedSize) {
        errorRetry(QStringLiteral("file %1 is smaller than expected on mirror %2")
                       .arg(remotePath, currentMirror.name));
        return;
    }
    // Buffered writes fail only here, for example on a full disk.
    if (!localFile.flush()) {
        errorRetry(localFile.errorString(), false);
        return;
    }
    reply->disconnect(this);
    reply->close();
    reply->deleteLater();
    reply = nullptr;
    localFile.close();
    downloadFinished();
}

void DownloadTaskSpecification::downloadFinished()
{
    emit message(QStringLiteral("Downloading %1 finished").arg(remotePath));
    mirrors->clearBlame(remotePath);
    releaseMirrorUse();
    finish();
}

void DownloadTaskSpecification::finishAbsent()
{
    // Still names the mirror, so a check that needed the file can blame it.
    const FTPSiteAccessData mirror = currentMirror;
    resetDownload();
    currentMirror = mirror;
    absent = true;
    emit message(QStringLiteral("file %1 is not published on mirror %2")
                     .arg(remotePath, currentMirror.name));
    finish();
}

void DownloadTaskSpecification::errorRetry(const QString& text, bool keepPartial)
{
    mirrors->addMirrorError(currentMirror.name);
    retry(text, keepPartial);
}

void DownloadTaskSpecification::startOver(const QString& text)
{
    retry(text, false);
}

void DownloadTaskSpecification::retry(const QString& text, bool keepPartial)
{
    resetDownload(keepPartial);
    emit message(text);
    startDownload();
}

void DownloadTaskSpecification::releaseMirrorUse()
{
    // Released once per use: a reset after success must not give the use back again.
    if (holdsMirrorUse)
        mirrors->releaseMirror(currentMirror.name);
    holdsMirrorUse = false;
}

void DownloadTaskSpecification::resetDownload(bool keepPartial)
{
    releaseMirrorUse();
    currentMirror.name.clear();
    disconnect(networkManager, nullptr, this, nullptr);
    if (reply) {
        reply->disconnect(this);
        // Aborting ends the transfer now and lets tasks waiting for a mirror hear of it. A reply
        // rejected for its status ends by itself (aborting it races with the network thread's
        // own error report), and no one waits for its mirror, which is gone.
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!reply->isFinished() && (!status.isValid() || status.toInt() == 200))
            reply->abort();
        reply->deleteLater();
        reply = nullptr;
    }
    idleTicks = 0;
    headersReceived = false;
    absent = false;
    recentTickBytes.clear();
    if (localFile.isOpen()) {
        // Kept bytes are a prefix no longer than the file (the size limit saw to that), handed
        // to the system before the next attempt measures them. They are not synced: a prefix
        // that a crash of the machine spoils fails the file's check, and that starts over.
        const bool keep
            = keepPartial && initialExpectedSize > 0 && bytesWritten > 0 && localFile.flush();
        localFile.close();
        if (!keep)
            localFile.remove();
    }
    resumeOffset = 0;
    lastTickBytes = 0;
    expectedSize = initialExpectedSize;
    bytesWritten = 0;
    setProgress(0.0);
}

void DownloadTaskSpecification::userCanceled()
{
    TaskSpecification::userCanceled();
    if (state != TaskRunning)
        return;
    resetDownload();
    userCancel();
}

void DownloadTaskSpecification::handleOtherTaskCancelled(TaskSpecification*)
{
    if (reply)
        emit message(QStringLiteral("Abort downloading %1").arg(remotePath));
    // Also drops the wait for a busy mirror.
    resetDownload();
    errorCancel();
}

void DownloadTaskSpecification::timeTick(
    quint64& bytesDone, quint64& bytesTotal, quint64& bytesSinceLastTick, bool& downloading)
{
    bytesDone = quint64(bytesWritten);
    bytesTotal = expectedSize < 0 ? 0 : quint64(expectedSize);
    bytesSinceLastTick = quint64(bytesWritten - lastTickBytes);
    lastTickBytes = bytesWritten;

    if (state != TaskRunning || !reply)
        return;
    ++idleTicks;
    // Headers are the first thing a reply brings; a mirror still sending them (or still silent)
    // after the whole silence budget trickles them on purpose or is broken, and would tie up a
    // download for that long on every attempt.
    if (!headersReceived && idleTicks > currentMirror.timeoutTicks) {
        mirrors->removeMirror(currentMirror.name);
        errorRetry(QStringLiteral("file %1 timed out waiting for the headers of mirror %2")
                       .arg(remotePath, currentMirror.name));
        return;
    }
    if (idleTicks > currentMirror.timeoutTicks) {
        errorRetry(
            QStringLiteral("file %1 timed out on mirror %2").arg(remotePath, currentMirror.name));
        return;
    }
    const int speedWindow = 2 * currentMirror.timeoutTicks;
    recentTickBytes.append(bytesWritten);
    if (recentTickBytes.size() > speedWindow) {
        const qint64 received = bytesWritten - recentTickBytes.takeFirst();
        if (received < minBytesPerTick * speedWindow) {
            errorRetry(QStringLiteral("file %1 is too slow on mirror %2: %3 bytes in %4 ticks")
                           .arg(remotePath, currentMirror.name, QString::number(received),
                               QString::number(speedWindow)));
            return;
        }
    }
    downloading = true;
}

qint64 DownloadTaskSpecification::sizeLimit() const
{
    // A listed size of 0 is either an empty file or a size the product ini could not state;
    // it is treated as unknown, and the file's check decides.
    return initialExpectedSize > 0 ? initialExpectedSize : unknownSizeLimit;
}

QString DownloadTaskSpecification::attemptUrl() const
{
    return currentMirror.url + QLatin1Char('/') + remotePath;
}
