#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class Configuration;
class MainTaskSpecification;
class Mirrors;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// One update run on behalf of the window, which owns the engine and drives it with
// initialize() and startUpdate() back to back, then cancelUpdate() or reset(). initialize()
// first recovers a replacement that a killed run left, then prepares the session (crypto,
// mirrors.ini, a previous session resumed or discarded, session directories of killed runs
// removed, the session directory and its record, the mirror list); startUpdate() runs a
// MainTaskSpecification and relays its progress, messages and errors, plus the download figures
// once a second. A run ends with exactly one of updateFinished() (after the session's temporary
// files are removed) or updateCanceled() (the session is kept for a resume); each is preceded by
// downloadProgress(0, 0, 0, false), and once it has ended installation() and failureReason() say
// what it left. The progress of a run only ever grows: a download that starts over elsewhere does
// not move it back. fatalError means the program must end; it never changes the
// state. The engine also fetches the banner image through the same network manager (and proxy).
// Main thread only. The configuration must outlive the engine; everything else it uses (timer,
// network manager, mirror lists, banner queries, the run's task) is its child. A run's task is
// deleted through the event loop once it has ended; nothing it might still send reaches the engine
// after that.
class UpdateEngine : public QObject
{
    Q_OBJECT
public:
    enum EngineState { Idle = 0, Initialized = 1, Running = 2, Finished = 3, Canceled = 4 };
    // What the installation holds after the last run.
    enum Installation {
        // The old version: nothing was replaced, or every replacement was undone.
        OldVersion = 0,
        // The new version: the replacement committed (a run cancelled after that still ends
        // with it in place).
        NewVersion = 1,
        // A mix: the undo of a failed replacement stopped half-way; its journal stays for the
        // next start to finish the undo.
        NotRestored = 2,
    };

    // An invalid proxy specification is reported by fatalError from the event loop, so that a
    // receiver connected right after construction gets it.
    UpdateEngine(Configuration& configuration, QObject* parent);

    static constexpr int ProgressIntervalMs = 1000;
    static constexpr quint16 DefaultProxyPort = 3128;
    static constexpr qint64 MaxBannerSize = 270000;

    EngineState state = Idle;
    Configuration* configuration;
    Mirrors* mirrors = nullptr;
    // Non-null from startUpdate() until the run has ended or reset() was called.
    MainTaskSpecification* mainTask = nullptr;
    QTimer* progressTimer;
    QNetworkAccessManager* networkManager;
    QString bannerClickUrl;
    QNetworkReply* bannerReply = nullptr;

    // True when the engine is Initialized; false after a fatalError.
    bool initialize();
    // Only after initialize() returned true. Always true.
    bool startUpdate();
    bool busy() const;
    // Valid once a run has ended, until the next startUpdate().
    Installation installation() const;
    // Why the last run was cancelled, in one sentence: the first error it reported, or what is
    // known without one; empty after a run that finished.
    QString failureReason() const;
    // Forgets a finished or cancelled run; its task is deleted later and reports nothing more.
    // Does nothing while Running: a run must end through cancelUpdate(), which undoes its
    // replacements, and must not be deleted in the middle of them.
    void reset();
    // Asks the update server for the banner, once a signed version list verified in this run.
    void getBanner();
    void cleanup();
    // Empties dir recursively; symbolic links are neither removed nor followed, dir stays.
    void cleanupDirectory(const QString& dir);
    // Deletes the "_old_" copies of the special files that an earlier update set aside in dir.
    static void removeOldFiles(const QString& dir);
    // True for a session directory this updater made: a real directory, owned by this user,
    // directly in the system temp directory, named "corvanta_temp_" and digits. Only such a
    // directory is ever resumed, emptied or removed.
    static bool isSessionDirectory(const QString& dir);

signals:
    void fatalError(QString errorMessage);
    void error(QString errorMessage);
    void updateProgress(qreal doneFrac);
    void downloadProgress(
        quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading);
    void message(QString message);
    void updateFinished();
    void updateCanceled();
    void bannerFound(QByteArray bannerImage, QString clickUrl);

public slots:
    void cancelUpdate();
    void onTimer();
    void onTaskFinished();
    void onTaskCanceled();
    void onBannerFound(QString bannerUrl, QString clickUrl);
    void onBannerDownloadFinished();
    void onBannermetaDataChanged();

private:
    void applyProxy();
    // The recorded session directory when it may be adopted or removed; otherwise the record is
    // deleted, a log line says why, and the result is empty.
    QString recordedSessionDirectory(qint32* version);
    // Empties and removes a session directory; false when it could not be removed.
    bool removeSessionDirectory(const QString& dir);
    // The same for a session directory of another run, unless that run is alive (holds the
    // directory's lock) or the lock cannot be taken at all.
    bool removeUnusedSessionDirectory(const QString& dir);
    // Removes every unused session directory of this user except the one being resumed.
    void removeAbandonedSessionDirectories(const QString& resumed);
    void onBannerDownloadProgress(qint64 bytesReceived);
    void dropBannerReply();
    void endRun();
    void onTaskProgress(qreal doneFrac);
    void onTaskError(const QString& errorMessage);

    qreal runProgress = 0.0;
    Installation runInstallation = OldVersion;
    QString runFailure;
};
