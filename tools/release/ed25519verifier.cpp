#include "ed25519verifier.h"

#include "ed25519signaturefile.h"
#include "trustedkeys.h"

#include <QFile>

bool Ed25519Verifier::loadKey(const QString& publicKeyPath)
{
    QFile file(publicKeyPath);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read key %1").arg(publicKeyPath);
        return false;
    }
    key = Ed25519Key::fromPem(file.read(64 * 1024));
    if (key.isNull()) {
        error = QStringLiteral("%1 is not an Ed25519 public key").arg(publicKeyPath);
        return false;
    }
    // As with the RSA keys: the private half has no business where releases are checked.
    if (key.isPrivate()) {
        error
            = QStringLiteral("%1 is a private key; verify takes the public key").arg(publicKeyPath);
        return false;
    }
    return true;
}

bool Ed25519Verifier::verifyFile(const QString& path)
{
    const QString signaturePath = path + QStringLiteral(".sig2");
    QFile signatureFile(signaturePath);
    if (!signatureFile.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1").arg(signaturePath);
        return false;
    }
    if (signatureFile.size() > Ed25519SignatureFile::maxSize) {
        error = QStringLiteral("%1 is far too large for a signature list").arg(signaturePath);
        return false;
    }
    const QByteArray signatures = signatureFile.readAll();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    const QByteArray content = file.readAll();
    if (content.size() != file.size()) {
        error = QStringLiteral("cannot read %1 completely").arg(path);
        return false;
    }
    if (Ed25519SignatureFile::verifies(signatures, content, TrustedKeys({ key.publicPem() })))
        return true;
    error = QStringLiteral("no signature of key %1 matches").arg(key.keyId());
    return false;
}
