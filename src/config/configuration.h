#pragma once

#include "filelock.h"
#include "updatechannel.h"

#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

class QSettings;
class UpdateChecker;

// The settings of one run: what to install (client type, version, name, news), the channel,
// the session directory, the proxy and the download concurrency. One object per process,
// created by start-up and read directly by the window, the engine and the tasks; only the
// operations below write it. Also the home of the installation's fixed names.
class Configuration : public QObject
{
    Q_OBJECT
public:
    explicit Configuration(QObject* parent = nullptr);

    qint32 noUserMode = 0;
    UpdateChannel channel = Stable;
    QString clientType;
    qint32 clientVersion = 0;
    QString clientVersionName;
    QString newsText;
    QString tempDir;
    QString proxySpec;
    qint32 downloadStreams = 6;
    // Hash every installed file, trusting no stat cache ("--verify-all", or "verifyall=true" in
    // the "update" group of update.ini).
    bool verifyAll = false;
    // "--allow-downgrade" was given on the process's own command line: the target may be older
    // than the installed version.
    bool allowDowngrade = false;
    // The product ini of this run passed through its Ed25519 signature; once the update is
    // committed the installation requires such signatures from then on.
    bool iniEd25519Signed = false;
    // True once a signed version list verified in this run: only then is the server trusted
    // for anything beyond the news, the banner included.
    bool versionListSigned = false;

    // The installation root: three levels above the executable's directory, cleaned (no "..",
    // no trailing "/"), so that paths in the log read as what they are.
    static QString getAppRootPath();
    // A path below (or, with "../", beside) the installation root, built and cleaned the one way
    // every install path is built.
    static QString getAppRootFilePath(const QString& relativePath);
    static QString getUpdateType();
    static QString getClientBinaryName();
    static QStringList getSpecialFileNames();
    static const QString& getSpecialFileRenamePrefix();
    static bool isSpecialFileName(const QString& name);
    // The temporary-arguments file as an argument list (element 0 empty, in place of the
    // program path); empty when the file cannot be opened or is not a regular file of the
    // current user (it lies in the shared temp directory).
    static QStringList checkTempArgs();
    static QString tempArgsFileName();
    // True when the process was started for an unattended update ("--nouser" first, on the
    // command line or in the temporary-arguments file); known before the command line is parsed.
    static bool startedUnattended();
    // The file whose lock marks a session directory as in use by a live run.
    static QString sessionLockPath(const QString& sessionDir);
    // A text setting of update.ini read as the text it is, commas included.
    static QString settingText(const QSettings& settings, const QString& key);

    void getUpdateChannel();
    // Evaluates the process's arguments (or the temporary-arguments file when there are none).
    bool parseCommandLineOptions();
    // The same evaluation for a given argument list; element 0 stands for the program path.
    // "--allow-downgrade" may stand anywhere after it and is no positional argument; it counts
    // only here, never in the temporary-arguments file.
    bool parseArguments(QStringList args);
    // A client type must be a plain name (ASCII letters, digits, "_", "-", "." not first): it
    // becomes part of file names and mirror paths.
    bool getClientTypeVersion(const QStringList& args, int index);
    bool getClientVersionFromString(const QString& text, const QString& errorTemplate);
    bool getDefaultParameters();
    // Asks the update server, with a modal Retry/Abort question after every failed attempt; in
    // unattended mode it asks nobody and gives up after three attempts with a fatal error.
    // A version list that fails its check counts as a failed attempt, its reason logged.
    // Returns (version text, name) of the channel, or two empty strings on giving up.
    QPair<QString, QString> getLatestClientVersion(UpdateChannel channel, QString& news);
    // Creates a fresh session directory of its own (owner-only) in the system temp directory and
    // holds its lock while this object lives (where the file system has locks), so that no other
    // run's start-up takes it for abandoned and removes it.
    bool createTempDir();
    // Adopts dir (a previous session to resume) and holds its lock; a directory that another
    // live run holds is left to it and a fresh one is made instead. An empty dir: createTempDir.
    bool initalizeStart(const QString& dir);
    void getProxyAndDownloadConcurrency();

signals:
    void fatalError(QString errorMessage);
    void message(QString message);

private:
    FileLock::Result lockSession(const QString& dir);
    // One attempt of the version query: the exchange, then the check of the list it brought.
    // problem is empty when the server did not answer, the check's reason otherwise.
    bool queryVersionList(UpdateChecker& checker, QString& problem);
    // Checks the list against the trusted versions keys, the clock and the serials seen before;
    // the serial of a signed list that verified is recorded.
    bool acceptVersionList(const QStringList& entries, QString& problem);

    std::unique_ptr<FileLock> sessionLock;
};
