#include "releaseverifier.h"

#include "checksigfunc.h"
#include "crypt.h"
#include "filedigest.h"

#include <QFile>

bool ReleaseVerifier::loadKey(const QString& keyPath)
{
    try {
        crypt_init();
        load_key(key.get(), QFile::encodeName(keyPath).constData());
    } catch (const crypt_exception& e) {
        error = QStringLiteral("cannot load key %1: %2")
                    .arg(keyPath, QString::fromLocal8Bit(e.what()));
        return false;
    }
    // The private key would verify too, but it has no business on the machines that check
    // releases, and it must never end up as the key an updater is built with.
    if (key.isPrivate()) {
        error = QStringLiteral("%1 is a private key; verify takes the public key").arg(keyPath);
        return false;
    }
    return true;
}

bool ReleaseVerifier::verifyFile(const QString& path)
{
    const QString signaturePath = path + QStringLiteral(".sig");
    QFile signatureFile(signaturePath);
    if (!signatureFile.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1").arg(signaturePath);
        return false;
    }
    if (signatureFile.size() > CheckSigFunc::maxWholeFileSize) {
        error = QStringLiteral("%1 is far too large for a signature").arg(signaturePath);
        return false;
    }
    const QByteArray signature = signatureFile.readAll();
    unsigned char digest[HASH_SIZE];
    try {
        if (FileDigest::sha1(path, digest) != FileBlockReader::Ok) {
            error = QStringLiteral("cannot read %1").arg(path);
            return false;
        }
        if (verify_hash(key.get(), digest, sizeof digest,
                reinterpret_cast<const unsigned char*>(signature.constData()),
                static_cast<unsigned long>(signature.size())))
            return true;
        error = QStringLiteral("signature does not match");
    } catch (const crypt_exception& e) {
        error = QStringLiteral("invalid signature (%1)").arg(QString::fromLocal8Bit(e.what()));
    }
    return false;
}
