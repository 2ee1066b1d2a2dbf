#include "configuration.h"

#include "escapedforlog.h"
#include "installedrecord.h"
#include "trustedkeys.h"
#include "updatechecker.h"
#include "updateinidata.h"
#include "versionlistcheck.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {
constexpr int DefaultDownloadStreams = 6;
constexpr int TempDirCandidates = 1000;
// Nobody is there to answer a question in unattended mode; a few tries ride out a lost datagram.
constexpr int UnattendedQueryAttempts = 3;
#ifdef CRV_REQUIRE_SIGNED_VERSIONS
constexpr bool RequireSignedVersions = true;
#else
constexpr bool RequireSignedVersions = false;
#endif

// The client type becomes part of file names in the session directory and of mirror paths.
bool isPlainName(const QString& name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9_.-]*$"));
    return plain.match(name).hasMatch();
}

const QString allowDowngradeOption = QStringLiteral("--allow-downgrade");
const QString verifyAllOption = QStringLiteral("--verify-all");

// Removes the option from the arguments after the program path; true when it was there. Options
// may stand anywhere: they are never taken for a position.
bool takeOption(QStringList& args, const QString& option)
{
    bool found = false;
    for (qsizetype i = args.size() - 1; i >= 1; --i) {
        if (args.at(i) == option) {
            args.removeAt(i);
            found = true;
        }
    }
    return found;
}

struct EffectiveArguments
{
    QStringList args;
    bool allowDowngrade = false;
    bool allowDowngradeIgnored = false;
    bool verifyAll = false;
};

// The arguments that count: the process's, or the temporary-arguments file's when it has none.
// The file lies in the shared temp directory and is written by the client on the server's word:
// it never lifts the protection against going back to an older version.
EffectiveArguments effectiveArguments(QStringList args)
{
    EffectiveArguments effective;
    effective.allowDowngrade = takeOption(args, allowDowngradeOption);
    effective.verifyAll = takeOption(args, verifyAllOption);
    if (args.size() > 1) {
        effective.args = args;
        return effective;
    }
    effective.args = Configuration::checkTempArgs();
    effective.allowDowngradeIgnored = takeOption(effective.args, allowDowngradeOption);
    // Hashing everything costs time only: honoured from wherever it comes.
    effective.verifyAll = takeOption(effective.args, verifyAllOption) || effective.verifyAll;
    return effective;
}

bool isUnattendedForm(const QStringList& args)
{
    return args.size() >= 2 && args.at(1) == QLatin1String("--nouser");
}

QString queryFailedText()
{
    return QObject::tr("Failed to query latest client\nversion from update server.");
}
} // namespace

Configuration::Configuration(QObject* parent)
    : QObject(parent)
{
}

QString Configuration::getAppRootPath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../../.."));
}

QString Configuration::getAppRootFilePath(const QString& relativePath)
{
    return QDir::cleanPath(getAppRootPath() + QLatin1Char('/') + relativePath);
}

QString Configuration::getUpdateType()
{
    return QStringLiteral("client_macosx");
}

QString Configuration::getClientBinaryName()
{
    return QStringLiteral("crvclient_mac");
}

QStringList Configuration::getSpecialFileNames()
{
    return QStringList { QStringLiteral("update"), QStringLiteral("libQtCore.so.4"),
        QStringLiteral("libQtGui.so.4"), QStringLiteral("libQtNetwork.so.4"),
        QStringLiteral("libqgif.so"), QStringLiteral("libqjpeg.so"),
        QStringLiteral("libqtaccessiblewidgets.so") };
}

const QString& Configuration::getSpecialFileRenamePrefix()
{
    static const QString prefix = QStringLiteral("_old_");
    return prefix;
}

bool Configuration::isSpecialFileName(const QString& name)
{
    return getSpecialFileNames().contains(name, Qt::CaseSensitive);
}

QString Configuration::tempArgsFileName()
{
    return QDir::tempPath() + QStringLiteral("/crvclientupdateargs");
}

QStringList Configuration::checkTempArgs()
{
    // The file lies in a directory every user can write to: only a regular file of our own,
    // reached without a symbolic link, can have come from the client that started us.
    // Without O_NONBLOCK a FIFO put there would block the open until someone writes to it.
    const int fd = ::open(QFile::encodeName(tempArgsFileName()).constData(),
        O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    QFile file;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()
        || !file.open(fd, QIODevice::ReadOnly | QIODevice::Text, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }

    QByteArray text = file.readAll();
    const int nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);

    QStringList args { QString() };
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray& line : lines) {
        if (!line.isEmpty())
            args.append(QString::fromLatin1(line));
    }
    return args;
}

bool Configuration::startedUnattended()
{
    return isUnattendedForm(effectiveArguments(QCoreApplication::arguments()).args);
}

QString Configuration::sessionLockPath(const QString& sessionDir)
{
    return sessionDir + QStringLiteral("/.session.lock");
}

QString Configuration::settingText(const QSettings& settings, const QString& key)
{
    // The settings format reads an unquoted value with commas as a list; the setting is the
    // text all the same (blanks after a comma are lost on the way, which no URL has).
    const QVariant value = settings.value(key);
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void Configuration::getUpdateChannel()
{
    QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Channel"));
    if (!settingText(settings, QStringLiteral("alpha")).isEmpty()) {
        channel = Alpha;
        clientVersion = settings.value(QStringLiteral("alphaRevno"), 0).toInt();
    } else if (settings.value(QStringLiteral("beta"), false).toBool()) {
        channel = Beta;
        clientVersion = 0;
    } else {
        channel = Stable;
        clientVersion = 0;
    }
}

bool Configuration::parseCommandLineOptions()
{
    return parseArguments(QCoreApplication::arguments());
}

bool Configuration::parseArguments(QStringList args)
{
    const EffectiveArguments effective = effectiveArguments(args);
    args = effective.args;
    allowDowngrade = effective.allowDowngrade;
    verifyAll = verifyAll || effective.verifyAll;

    getUpdateChannel();
    // Set first: neither a rejected version nor the version query may wait for a person.
    noUserMode = isUnattendedForm(args) ? 1 : 0;
    if (effective.allowDowngradeIgnored)
        emit message(QStringLiteral("%1 is only honoured on the command line; ignored")
                         .arg(allowDowngradeOption));

    if (noUserMode == 1) {
        if (args.size() >= 4 && !getClientTypeVersion(args, 2)) {
            noUserMode = 0;
            return false;
        }
        if (args.size() >= 5 && args.at(4) != QLatin1String("#"))
            clientVersionName = args.at(4);
        if (args.size() >= 6)
            newsText = args.at(5);
        if (getDefaultParameters())
            return true;
        noUserMode = 0;
        return false;
    }
    if (args.size() == 3)
        return getClientTypeVersion(args, 1);
    return getDefaultParameters();
}

bool Configuration::getClientTypeVersion(const QStringList& args, int index)
{
    if (index >= args.size()) {
        emit fatalError(QStringLiteral("No client type specified"));
        return false;
    }
    if (index + 1 >= args.size()) {
        emit fatalError(QStringLiteral("No client version specified"));
        return false;
    }
    if (!isPlainName(args.at(index))) {
        emit fatalError(QObject::tr("Invalid client type (%1)").arg(escapedForLog(args.at(index))));
        return false;
    }
    clientType = args.at(index);
    return getClientVersionFromString(args.at(index + 1), QObject::tr("Invalid version nr (%1)"));
}

bool Configuration::getClientVersionFromString(const QString& text, const QString& errorTemplate)
{
    // A version fixed earlier (the alpha channel's "alphaRevno") wins over any other source.
    if (clientVersion != 0)
        return true;
    bool ok = false;
    clientVersion = text.toInt(&ok, 10);
    if (ok)
        return true;
    emit fatalError(errorTemplate.arg(escapedForLog(text)));
    return false;
}

bool Configuration::getDefaultParameters()
{
    if (clientType.isEmpty())
        clientType = getUpdateType();
    if (clientVersion != 0)
        return true;

    const QPair<QString, QString> latest = getLatestClientVersion(channel, newsText);
    if (latest.first.isEmpty())
        return false;
    if (!getClientVersionFromString(
            latest.first, QObject::tr("Update server returned invalid version nr (%1)")))
        return false;
    clientVersionName = latest.second;
    return true;
}

QPair<QString, QString> Configuration::getLatestClientVersion(UpdateChannel channel, QString& news)
{
    UpdateChecker checker;
    QString problem;
    for (int attempt = 1; !queryVersionList(checker, problem); ++attempt) {
        if (noUserMode) {
            if (attempt < UnattendedQueryAttempts)
                continue;
            emit fatalError(problem.isEmpty() ? queryFailedText()
                                              : queryFailedText() + QLatin1Char('\n') + problem);
            return qMakePair(QString(), QString());
        }
        QMessageBox question(QMessageBox::Critical, QObject::tr("Error"), queryFailedText(),
            QMessageBox::Retry | QMessageBox::Abort);
        question.setInformativeText(problem);
        if (question.exec() == QMessageBox::Abort)
            return qMakePair(QString(), QString());
    }
    news = checker.news;
    return checker.getClientVersionByChannel(channel);
}

bool Configuration::queryVersionList(UpdateChecker& checker, QString& problem)
{
    problem.clear();
    return checker.checkUpdate() && acceptVersionList(checker.versionEntries, problem);
}

bool Configuration::acceptVersionList(const QStringList& entries, QString& problem)
{
    InstalledRecord record = InstalledRecord::load();
    VersionListCheck check(TrustedKeys::builtIn(TrustedKeys::Versions),
        QDateTime::currentSecsSinceEpoch(), record.serials, RequireSignedVersions);
    if (!check.check(entries)) {
        problem = check.reason();
        emit message(problem);
        return false;
    }
    versionListSigned = check.isSigned();
    if (!versionListSigned || record.serials.value(check.keyId(), -1) >= check.serial())
        return true;
    // Raised only: from now on a replayed older list of this key is refused.
    record.serials.insert(check.keyId(), check.serial());
    if (!record.save())
        emit message(QObject::tr("The version list's serial could not be recorded in %1")
                         .arg(UpdateIniData::filename()));
    return true;
}

bool Configuration::createTempDir()
{
    // The toolkit reports the temp directory canonically, so an empty path also means that the
    // directory does not exist.
    QString base = QDir::tempPath();
    if (base.isEmpty()) {
        emit fatalError(QStringLiteral("Unable to get temp directory."));
        return false;
    }
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    base += QStringLiteral("corvanta_temp_");

    // The temp directory is shared with every other user: create the candidate ourselves,
    // exclusively and owner-only, and never adopt a name that already exists in any form (a
    // directory or symbolic link there may belong to someone else).
    for (int i = 0; i < TempDirCandidates; ++i) {
        const QString candidate = base + QString::number(i);
        if (::mkdir(QFile::encodeName(candidate).constData(), 0700) != 0)
            continue;
        // Until its lock is held, a new directory looks abandoned to another run's start-up,
        // which may remove it: then the name is left to that run.
        if (lockSession(candidate) != FileLock::Busy && QFileInfo(candidate).isDir()) {
            tempDir = candidate;
            return true;
        }
    }
    emit fatalError(QStringLiteral("Unable to create temp directory."));
    return false;
}

bool Configuration::initalizeStart(const QString& dir)
{
    if (dir.isEmpty())
        return createTempDir();
    if (lockSession(dir) == FileLock::Busy) {
        emit message(
            QStringLiteral("%1 is in use by another update; a new session is started").arg(dir));
        return createTempDir();
    }
    tempDir = dir;
    return true;
}

FileLock::Result Configuration::lockSession(const QString& dir)
{
    // A run started again in this process resumes the directory it holds already.
    if (sessionLock && sessionLock->isLocked() && sessionLock->path() == sessionLockPath(dir))
        return FileLock::Locked;
    auto lock = std::make_unique<FileLock>(sessionLockPath(dir));
    const FileLock::Result result = lock->tryLock();
    // A lock that cannot be taken at all (a file system without locks, a directory that is gone)
    // is no sign of another run: the session goes on unlocked, as it would have without locks,
    // and the downloads into it report what is wrong.
    if (result != FileLock::Busy)
        sessionLock = std::move(lock);
    return result;
}

void Configuration::getProxyAndDownloadConcurrency()
{
    QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("update"));
    proxySpec = settingText(settings, QStringLiteral("proxy"));
    bool ok = false;
    const int streams = settings.value(QStringLiteral("streams")).toString().toInt(&ok, 10);
    downloadStreams = (ok && streams > 0) ? streams : DefaultDownloadStreams;
    verifyAll
        = verifyAll || settingText(settings, QStringLiteral("verifyall")) == QStringLiteral("true");
}
