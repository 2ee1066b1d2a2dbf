#pragma once

#include "composedtaskspecification.h"

class CheckSignatureTaskSpecification;
class Configuration;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;
class TrustedKeys;

// Fetches the product ini (clientType + ".ini") and its ".sig" into the session directory and
// verifies it, one subtask after the other. Copies already in the session directory are reused
// on the first attempt only. Finishes when the signature is valid and the ini names the target
// version and client type (keys "version" and "type" outside every section): the signature
// alone would accept the signed ini of any other version, replayed by anyone on the path.
// Beside the RSA ".sig" it fetches the Ed25519 ".sig2" from the same mirror; a mirror without
// one (404) serves a release made before such signatures. When there is one, a line by a
// built-in release key must verify; when there is none, the ini passes only while this
// installation never took an Ed25519-signed update, and only up to the vendor's last unsigned
// version if the build names one. The configuration learns which way the ini passed.
//
// The signature comes from the mirror that served the ini while that mirror is listed. A
// failed check removes the mirror that served both files; a pair that came from two mirrors
// (the first one failed the signature's transfer) blames neither. Either way both files are
// downloaded again. The task fails when no mirror is left, or after maxFailedChecks failures.
// Shared objects are not owned.
class IniDownloadTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    IniDownloadTaskSpecification(QNetworkAccessManager* manager, Mirrors* mirrors,
        Configuration* configuration, QObject* parent, double progressRange);

    static constexpr qint32 maxFailedChecks = 1000;
    // Far above any real product ini or signature: what a mirror may send before it is cut off.
    static constexpr qint64 maxIniSize = 16 * 1024 * 1024;

    QNetworkAccessManager* networkManager;
    Mirrors* mirrors;
    Configuration* configuration;
    qint32 failedChecks = 0;

    void execute() override;
    void reset() override;
    void makeSubtasksAndStart();

    // Empty when the product ini at iniPath names clientType and version; otherwise the reason
    // it is refused. An ini that names neither passes only when acceptUnversioned (releases
    // made before the keys existed); a key that is present must always match.
    static QString identityError(
        const QString& iniPath, const QString& clientType, int version, bool acceptUnversioned);
    // Empty when the product ini at iniPath passes on its Ed25519 signatures at sig2Path (no
    // file there: none were published): a line by a key of trusted verifies, or there is no
    // file, required is false and version is at most legacyMax (0: no limit). Otherwise the
    // reason it is refused.
    static QString ed25519Error(const QString& iniPath, const QString& sig2Path, int version,
        const TrustedKeys& trusted, bool required, qint32 legacyMax);

    // The download of the ini that passed its check, so that files belonging to it can be
    // fetched from the same mirror; null when the copy in the session directory was used.
    const DownloadTaskSpecification* iniDownload() const { return iniTask; }

public slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);

private:
    DownloadTaskSpecification* addDownload(
        const QString& remotePath, const QString& localPath, qint64 limit, double share);
    // Removes the mirror that served both the ini and the signature that failed it, unless a
    // local copy was used.
    void blameMirrors(const DownloadTaskSpecification* signature);

    // This attempt's downloads; null for a file reused from the session directory.
    DownloadTaskSpecification* iniTask = nullptr;
    DownloadTaskSpecification* sigTask = nullptr;
    DownloadTaskSpecification* sig2Task = nullptr;
};
