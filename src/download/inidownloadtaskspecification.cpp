#include "inidownloadtaskspecification.h"

#include "checksigfunc.h"
#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"
#include "ed25519signaturefile.h"
#include "escapedforlog.h"
#include "installedrecord.h"
#include "mirrors.h"
#include "trustedkeys.h"

#include <QFile>
#include <QSettings>

namespace {
#ifdef CRV_ACCEPT_UNVERSIONED_INI
constexpr bool acceptUnversionedIni = true;
#else
constexpr bool acceptUnversionedIni = false;
#endif
#ifdef CRV_LEGACY_RELEASE_MAX
constexpr qint32 legacyReleaseMax = CRV_LEGACY_RELEASE_MAX;
#else
constexpr qint32 legacyReleaseMax = 0;
#endif
constexpr double downloadShare = 0.25;

// The whole file, or a null array when it cannot be read or holds more than limit bytes.
QByteArray readSmallFile(const QString& path, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > limit)
        return QByteArray();
    QByteArray data = file.read(limit + 1);
    if (data.size() > limit)
        return QByteArray();
    // Null marks failure; an empty file is still a file.
    return data.isNull() ? QByteArray("") : data;
}
} // namespace

IniDownloadTaskSpecification::IniDownloadTaskSpecification(QNetworkAccessManager* manager,
    Mirrors* mirrors, Configuration* configuration, QObject* parent, double progressRange)
    : ComposedTaskSpecification(1, progressRange, parent)
    , networkManager(manager)
    , mirrors(mirrors)
    , configuration(configuration)
{
}

void IniDownloadTaskSpecification::execute()
{
    emit message(QStringLiteral("Download / check product ini"));
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::reset()
{
    clearSubTasks();
    iniTask = nullptr;
    sigTask = nullptr;
    sig2Task = nullptr;
    failedChecks = 0;
    ComposedTaskSpecification::reset();
}

DownloadTaskSpecification* IniDownloadTaskSpecification::addDownload(
    const QString& remotePath, const QString& localPath, qint64 limit, double share)
{
    auto* download = new DownloadTaskSpecification(
        networkManager, mirrors, remotePath, localPath, -1, this, share);
    download->unknownSizeLimit = limit;
    addSubTask(download);
    return download;
}

void IniDownloadTaskSpecification::makeSubtasksAndStart()
{
    const QString iniName = configuration->clientType + QStringLiteral(".ini");
    const QString sigName = iniName + QStringLiteral(".sig");
    const QString sig2Name = iniName + QStringLiteral(".sig2");
    const QString localIni = configuration->tempDir + QLatin1Char('/') + iniName;
    const QString localSig = localIni + QStringLiteral(".sig");
    const QString localSig2 = localIni + QStringLiteral(".sig2");

    // Copies left by an interrupted session are trusted only until a check has failed.
    const bool reuseLocal = failedChecks <= 0;
    double checkShare = 1.0;
    if (!reuseLocal || !QFile::exists(localIni)) {
        iniTask = addDownload(iniName, localIni, maxIniSize, downloadShare);
        checkShare -= downloadShare;
    }
    if (!reuseLocal || !QFile::exists(localSig)) {
        sigTask = addDownload(sigName, localSig, CheckSigFunc::maxWholeFileSize, downloadShare);
        sigTask->sameMirrorAs = iniTask;
        checkShare -= downloadShare;
    }
    if (!reuseLocal || !QFile::exists(localSig2)) {
        sig2Task = addDownload(sig2Name, localSig2, Ed25519SignatureFile::maxSize, downloadShare);
        sig2Task->sameMirrorAs = iniTask;
        sig2Task->mayBeAbsent = true;
        checkShare -= downloadShare;
    }
    auto* check = new CheckSignatureTaskSpecification(localIni, QString(), false, this, checkShare);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
        &IniDownloadTaskSpecification::onSigCheckDone, Qt::DirectConnection);
    addSubTask(check);

    state = TaskRunning;
    executeSubTasks();
}

QString IniDownloadTaskSpecification::identityError(
    const QString& iniPath, const QString& clientType, int version, bool acceptUnversioned)
{
    // Keys before the first section header, which the plan never reads.
    const QSettings ini(iniPath, QSettings::IniFormat);
    const QVariant iniVersion = ini.value(QStringLiteral("version"));
    const QVariant iniType = ini.value(QStringLiteral("type"));
    if (!iniVersion.isValid() && !iniType.isValid() && acceptUnversioned)
        return QString();
    if (!iniVersion.isValid() || !iniType.isValid())
        return QStringLiteral("The product ini does not name its version and client type; "
                              "refusing it");
    bool numeric = false;
    const int named = iniVersion.toString().toInt(&numeric);
    if (!numeric || named != version || iniType.toString() != clientType)
        return QStringLiteral("The product ini is for %1 version %2, not %3 version %4; "
                              "refusing it")
            .arg(escapedForLog(iniType.toString()), escapedForLog(iniVersion.toString()),
                clientType, QString::number(version));
    return QString();
}

QString IniDownloadTaskSpecification::ed25519Error(const QString& iniPath, const QString& sig2Path,
    int version, const TrustedKeys& trusted, bool required, qint32 legacyMax)
{
    if (!QFile::exists(sig2Path)) {
        if (required)
            return QStringLiteral("The product ini has no Ed25519 signature, which this "
                                  "installation requires; refusing it");
        if (legacyMax > 0 && version > legacyMax)
            return QStringLiteral("The product ini has no Ed25519 signature, which every "
                                  "version after %1 carries; refusing it")
                .arg(legacyMax);
        return QString();
    }
    const QByteArray signatures = readSmallFile(sig2Path, Ed25519SignatureFile::maxSize);
    const QByteArray ini = readSmallFile(iniPath, maxIniSize);
    if (signatures.isNull() || ini.isNull()
        || !Ed25519SignatureFile::verifies(signatures, ini, trusted))
        return QStringLiteral("The product ini's Ed25519 signature does not verify with a "
                              "trusted key; refusing it");
    return QString();
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check)
{
    const DownloadTaskSpecification* failedSignature = sigTask;
    // The check task has logged its own failure; this is what the run then fails with.
    QString refused = QStringLiteral("The product ini's signature does not verify; refusing it");
    if (pass) {
        const QString sig2Path = check->filePath + QStringLiteral(".sig2");
        refused = ed25519Error(check->filePath, sig2Path, configuration->clientVersion,
            TrustedKeys::builtIn(TrustedKeys::Release), InstalledRecord::load().ed25519Signed,
            legacyReleaseMax);
        if (!refused.isEmpty())
            failedSignature = sig2Task;
        else
            refused = identityError(check->filePath, configuration->clientType,
                configuration->clientVersion, acceptUnversionedIni);
        if (refused.isEmpty()) {
            configuration->iniEd25519Signed = QFile::exists(sig2Path);
            return;
        }
        emit message(refused);
    }
    ++failedChecks;
    blameMirrors(failedSignature);
    // The check task still ends after this slot; it must not reach a task that has ended.
    if (failedChecks > maxFailedChecks || mirrors->mirrorList.isEmpty()) {
        emit message(QStringLiteral("Could not verify the product ini file. Aborting"));
        // Without an error the failed run would give no reason, and an unattended run has no
        // log to point to.
        if (!userCancelRequested)
            emit error(QStringLiteral("Could not verify the product ini file on any mirror: %1")
                           .arg(refused));
        clearSubTasks();
        errorCancel();
        return;
    }
    if (userCancelRequested) {
        clearSubTasks();
        userCancel();
        return;
    }
    emit message(QStringLiteral("Could not verify the product ini file. Retrying"));
    const qint32 failures = failedChecks;
    reset();
    failedChecks = failures;
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::blameMirrors(const DownloadTaskSpecification* signature)
{
    // A copy reused from an interrupted session may be the bad one (cut short when the session
    // broke off), so no mirror is blamed for an attempt that used one.
    if (!iniTask || !signature)
        return;
    mirrors->blamePair(iniTask->currentMirror.name, signature->currentMirror.name);
}
