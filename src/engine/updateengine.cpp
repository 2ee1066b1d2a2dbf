#include "updateengine.h"

#include "banner.h"
#include "configuration.h"
#include "crypt.h"
#include "cryptexception.h"
#include "filelock.h"
#include "maintaskspecification.h"
#include "mirrors.h"
#include "randomgenerator.h"
#include "rollbackjournalfile.h"
#include "updateinidata.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

UpdateEngine::UpdateEngine(Configuration& configuration, QObject* parent)
    : QObject(parent)
    , configuration(&configuration)
    , progressTimer(new QTimer(this))
    , networkManager(new QNetworkAccessManager(this))
{
    connect(&configuration, &Configuration::message, this, &UpdateEngine::message);
    progressTimer->setInterval(ProgressIntervalMs);
    connect(progressTimer, &QTimer::timeout, this, &UpdateEngine::onTimer);
    // A redirect must arrive as a status other than 200, never be followed to another host.
    networkManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    configuration.getProxyAndDownloadConcurrency();
    applyProxy();
}

void UpdateEngine::applyProxy()
{
    const QString spec = configuration->proxySpec;
    if (spec.isEmpty()) {
        // Explicitly direct, not the system's or the environment's proxy.
        networkManager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        return;
    }
    const QUrl url(spec, QUrl::StrictMode);
    // A URL without a host ("proxy:3128" reads as a scheme and a path) would send every
    // download to an empty proxy host; it is as unusable as text that is no URL at all.
    if (url.isValid() && !url.host().isEmpty()) {
        // Only an HTTP proxy is spoken; a socks5:// or https:// proxy used as one would fail
        // every download in ways that look like broken mirrors.
        if (!url.scheme().isEmpty() && url.scheme() != QLatin1String("http")) {
            QTimer::singleShot(0, this, [this, spec, scheme = url.scheme()] {
                emit fatalError(QStringLiteral("'%1' is an unsupported proxy specification: "
                                               "only http proxies can be used, not %2")
                                    .arg(spec, scheme));
            });
            return;
        }
        networkManager->setProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, url.host(), url.port(DefaultProxyPort)));
        return;
    }
    // The owner connects to fatalError only once the constructor has returned.
    QTimer::singleShot(0, this, [this, spec] {
        emit fatalError(QStringLiteral("'%1' is an invalid proxy specification").arg(spec));
    });
}

bool UpdateEngine::initialize()
{
    // A run killed in the middle of the replacement left a mix of old and new files; it is
    // made whole before anything else looks at the installation.
    if (!RollbackJournalFile::recover(Configuration::getAppRootPath(), this)) {
        emit fatalError(QStringLiteral("The interrupted update could not be undone, cannot "
                                       "proceed. The installation is left as it is."));
        return false;
    }
    // Copies of the updater's own files that the last update could not replace while they were
    // in use. Only now: until an interrupted update is undone, such a copy may be the only one.
    const QString root = Configuration::getAppRootPath();
    removeOldFiles(root);
    removeOldFiles(root + QStringLiteral("/imageformats"));
    removeOldFiles(root + QStringLiteral("/accessible"));

    try {
        crypt_init();
    } catch (const crypt_exception& e) {
        emit fatalError(QString::fromLocal8Bit(e.what()));
        return false;
    }

    const QString mirrorsIni = Configuration::getAppRootFilePath(QStringLiteral("mirrors.ini"));
    if (!QFile::exists(mirrorsIni)) {
        emit fatalError(
            QStringLiteral("%1 is missing, cannot proceed.").arg(QStringLiteral("mirrors.ini")));
        return false;
    }

    RandomGenerator::seed(quint32(QDateTime::currentSecsSinceEpoch()));

    qint32 version = 0;
    QString dir = recordedSessionDirectory(&version);
    if (!dir.isEmpty()) {
        if (version == configuration->clientVersion) {
            emit message(QStringLiteral("Previous update session for v. %1 found").arg(version));
        } else {
            emit message(QStringLiteral("Cleanup previous session (v. %1, %2) files...")
                             .arg(version)
                             .arg(dir));
            emit message(removeUnusedSessionDirectory(dir)
                    ? QStringLiteral("Ok")
                    : QStringLiteral("Failed to remove directory"));
            dir.clear();
            UpdateIniData::cleanup();
        }
    }

    removeAbandonedSessionDirectories(dir);

    if (!configuration->initalizeStart(dir))
        return false;
    UpdateIniData::modify(
        configuration->clientVersion, configuration->tempDir, configuration->clientType);

    // A restart prepares a new list; the last run's task, deleted through the event loop before
    // it, may still hold the old one until then.
    if (mirrors)
        mirrors->deleteLater();
    mirrors = new Mirrors(this);
    connect(mirrors, &Mirrors::fatalError, this, &UpdateEngine::fatalError);
    connect(mirrors, &Mirrors::message, this, &UpdateEngine::message);
    const bool loaded = configuration->channel == Alpha
        ? mirrors->initAlpha(Configuration::getAppRootFilePath(QStringLiteral("update.ini")),
            configuration->clientVersion)
        : mirrors->initDefault(mirrorsIni, configuration->clientVersion);
    if (!loaded)
        return false;
    state = Initialized;
    return true;
}

QString UpdateEngine::recordedSessionDirectory(qint32* version)
{
    QString dir;
    if (!UpdateIniData::get(version, nullptr, &dir))
        return {};
    if (isSessionDirectory(dir))
        return dir;
    // A stale or edited record may name any directory; its files are not ours to delete.
    emit message(QStringLiteral("Session record ignored: %1 is not a session directory of the "
                                "updater; nothing was removed")
                     .arg(dir));
    UpdateIniData::cleanup();
    return {};
}

bool UpdateEngine::isSessionDirectory(const QString& dir)
{
    // The path must name the directory itself: no "..", no "." and no doubled slash that could
    // lead through a link to somewhere else.
    if (!QDir::isAbsolutePath(dir) || QDir::cleanPath(dir) != dir)
        return false;
    static const QRegularExpression name(
        QRegularExpression::anchoredPattern(QStringLiteral("corvanta_temp_[0-9]+")));
    const QFileInfo info(dir);
    if (!name.match(info.fileName()).hasMatch() || info.path() != QDir::cleanPath(QDir::tempPath()))
        return false;
    struct stat st;
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

bool UpdateEngine::removeSessionDirectory(const QString& dir)
{
    cleanupDirectory(dir);
    const QFileInfo info(dir);
    return QDir(info.path()).rmdir(info.fileName());
}

bool UpdateEngine::removeUnusedSessionDirectory(const QString& dir)
{
    // A live run holds the lock of its session; while we hold it, no run can adopt the
    // directory. Where no lock can be taken, a live run cannot be told apart: the directory stays.
    FileLock lock(Configuration::sessionLockPath(dir));
    return lock.tryLock() == FileLock::Locked && removeSessionDirectory(dir);
}

void UpdateEngine::removeAbandonedSessionDirectories(const QString& resumed)
{
    // Runs killed (or failed) before their session was recorded leave directories that no
    // record names; nothing else would ever remove them.
    const QString temp = QDir::cleanPath(QDir::tempPath());
    const QStringList names = QDir(temp).entryList({ QStringLiteral("corvanta_temp_*") },
        QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString dir = temp + QLatin1Char('/') + name;
        if (dir != resumed && isSessionDirectory(dir) && removeUnusedSessionDirectory(dir))
            emit message(QStringLiteral("Removed the abandoned session directory %1").arg(dir));
    }
}

bool UpdateEngine::startUpdate()
{
    mainTask = new MainTaskSpecification(networkManager, mirrors, configuration, this, 1.0);
    connect(mainTask, &TaskSpecification::finished, this, &UpdateEngine::onTaskFinished);
    connect(mainTask, &TaskSpecification::canceled, this, &UpdateEngine::onTaskCanceled);
    connect(mainTask, &TaskSpecification::error, this, &UpdateEngine::onTaskError);
    connect(mainTask, &TaskSpecification::updateProgress, this, &UpdateEngine::onTaskProgress);
    connect(mainTask, &TaskSpecification::message, this, &UpdateEngine::message);
    state = Running;
    runProgress = 0.0;
    runInstallation = OldVersion;
    runFailure.clear();
    progressTimer->start();
    mainTask->execute();
    return true;
}

bool UpdateEngine::busy() const
{
    return state == Initialized || state == Running;
}

UpdateEngine::Installation UpdateEngine::installation() const
{
    return runInstallation;
}

QString UpdateEngine::failureReason() const
{
    return runFailure;
}

void UpdateEngine::onTaskProgress(qreal doneFrac)
{
    // A retry resets its download to zero; the user sees the run's work, which does not shrink.
    if (doneFrac <= runProgress)
        return;
    runProgress = doneFrac;
    emit updateProgress(doneFrac);
}

void UpdateEngine::onTaskError(const QString& errorMessage)
{
    // The first error is the cause; later ones are usually its consequences.
    if (runFailure.isEmpty())
        runFailure = errorMessage;
    emit error(errorMessage);
}

void UpdateEngine::cancelUpdate()
{
    if (state == Running)
        mainTask->userCanceled();
}

void UpdateEngine::onTimer()
{
    if (state != Running)
        return;
    quint64 bytesDone = 0;
    quint64 bytesTotal = 0;
    quint64 bytesSinceLastTick = 0;
    bool downloading = false;
    mainTask->timeTick(bytesDone, bytesTotal, bytesSinceLastTick, downloading);
    emit downloadProgress(bytesDone, bytesTotal, bytesSinceLastTick, downloading);
}

void UpdateEngine::onTaskFinished()
{
    progressTimer->stop();
    cleanup();
    state = Finished;
    runInstallation = NewVersion;
    runFailure.clear();
    emit message(QStringLiteral("Update successfully finished"));
    endRun();
    emit downloadProgress(0, 0, 0, false);
    emit updateFinished();
}

void UpdateEngine::onTaskCanceled()
{
    progressTimer->stop();
    state = Canceled;
    if (mainTask->state == TaskSpecification::TaskUserCanceled)
        emit message(QStringLiteral("User aborted update"));
    if (mainTask->committed())
        runInstallation = NewVersion;
    else if (QFile::exists(RollbackJournalFile(Configuration::getAppRootPath()).filePath()))
        // An undo that completed removes its journal; one that stopped half-way keeps it.
        runInstallation = NotRestored;
    else
        runInstallation = OldVersion;
    if (runFailure.isEmpty()) {
        if (mainTask->state == TaskSpecification::TaskUserCanceled)
            runFailure = QStringLiteral("The update was aborted.");
        else if (mirrors && mirrors->noMirrorsReported)
            runFailure = QStringLiteral("No mirror could deliver the update; check the network "
                                        "connection.");
    }
    // The session directory and its record stay: the next run of this version resumes.
    endRun();
    emit downloadProgress(0, 0, 0, false);
    emit updateCanceled();
}

void UpdateEngine::endRun()
{
    disconnect(mainTask, nullptr, this, nullptr);
    mainTask->deleteLater();
    mainTask = nullptr;
}

void UpdateEngine::reset()
{
    if (state == Running)
        return;
    state = Idle;
    if (mainTask)
        endRun();
}

void UpdateEngine::cleanup()
{
    emit message(QStringLiteral("Remove temporary files..."));
    qint32 version = 0;
    const QString dir = recordedSessionDirectory(&version);
    if (!dir.isEmpty()) {
        removeSessionDirectory(dir);
        UpdateIniData::cleanup();
    }
    QFile::remove(Configuration::tempArgsFileName());
    emit message(QStringLiteral("Temporary files removed."));
}

void UpdateEngine::cleanupDirectory(const QString& dir)
{
    const QDir directory(dir);
    const QDir::Filters filters
        = QDir::Hidden | QDir::System | QDir::NoSymLinks | QDir::NoDotAndDotDot;
    for (const QFileInfo& file : directory.entryInfoList(QDir::Files | filters)) {
        if (!file.isSymLink())
            QFile::remove(file.absoluteFilePath());
    }
    for (const QFileInfo& sub : directory.entryInfoList(QDir::Dirs | filters)) {
        if (sub.isSymLink())
            continue;
        cleanupDirectory(sub.absoluteFilePath());
        directory.rmdir(sub.fileName());
    }
}

void UpdateEngine::removeOldFiles(const QString& dir)
{
    const QString& prefix = Configuration::getSpecialFileRenamePrefix();
    for (const QString& name : Configuration::getSpecialFileNames())
        QFile::remove(dir + QLatin1Char('/') + prefix + name);
}

void UpdateEngine::getBanner()
{
    // The banner's address comes from the update server, unsigned: it is asked for only once a
    // signed version list verified in this run, so that a server nobody vouched for cannot put
    // a link before the user.
    if (bannerReply || !configuration->versionListSigned)
        return;
    auto* query = new Banner(this);
    connect(query, &Banner::bannerFound, this, &UpdateEngine::onBannerFound);
    query->run();
}

void UpdateEngine::onBannerFound(QString bannerUrl, QString clickUrl)
{
    const QUrl url(bannerUrl);
    // The URL comes over UDP: only a web address, never a local file or resource, is fetched.
    if (!url.isValid()
        || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return;
    if (bannerReply)
        dropBannerReply();
    bannerClickUrl = clickUrl;
    bannerReply = networkManager->get(QNetworkRequest(url));
    connect(bannerReply, &QNetworkReply::finished, this, &UpdateEngine::onBannerDownloadFinished);
    connect(
        bannerReply, &QNetworkReply::metaDataChanged, this, &UpdateEngine::onBannermetaDataChanged);
    connect(bannerReply, &QNetworkReply::downloadProgress, this,
        &UpdateEngine::onBannerDownloadProgress);
}

void UpdateEngine::onBannermetaDataChanged()
{
    const QVariant length = bannerReply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > MaxBannerSize)
        dropBannerReply();
}

void UpdateEngine::onBannerDownloadProgress(qint64 bytesReceived)
{
    // The announced length may be missing or lie; what arrives counts.
    if (bytesReceived > MaxBannerSize)
        dropBannerReply();
}

void UpdateEngine::onBannerDownloadFinished()
{
    // With redirects not followed, an error page or a redirect finishes without a network
    // error; only a 200 carries the image.
    if (bannerReply->error() != QNetworkReply::NoError
        || bannerReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200) {
        dropBannerReply();
        return;
    }
    const QByteArray data = bannerReply->readAll();
    if (data.size() > MaxBannerSize) {
        dropBannerReply();
        return;
    }
    bannerReply->deleteLater();
    bannerReply = nullptr;
    emit bannerFound(data, bannerClickUrl);
}

void UpdateEngine::dropBannerReply()
{
    disconnect(bannerReply, nullptr, this, nullptr);
    bannerReply->abort();
    bannerReply->deleteLater();
    bannerReply = nullptr;
}
