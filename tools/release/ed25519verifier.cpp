#include "ed25519verifier.h"

#include "ed25519signaturefile.h"
#include "trustedkeys.h"
#include "wholefilereader.h"

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
    QByteArray signatures;
    QByteArray content;
    if (!WholeFileReader::read(
            path + QStringLiteral(".sig2"), signatures, error, Ed25519SignatureFile::maxSize)
        || !WholeFileReader::read(path, content, error))
        return false;
    if (Ed25519SignatureFile::verifies(signatures, content, TrustedKeys({ key.publicPem() })))
        return true;
    error = QStringLiteral("no signature of key %1 matches").arg(key.keyId());
    return false;
}
