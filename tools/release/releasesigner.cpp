#include "releasesigner.h"

#include "crypt.h"
#include "filedigest.h"

#include <QFile>
#include <QSaveFile>

bool ReleaseSigner::loadKey(const QString& privateKeyPath)
{
    try {
        crypt_init();
        load_key(key.get(), QFile::encodeName(privateKeyPath).constData());
    } catch (const crypt_exception& e) {
        error = QStringLiteral("cannot load key %1: %2")
                    .arg(privateKeyPath, QString::fromLocal8Bit(e.what()));
        return false;
    }
    if (!key.isPrivate()) {
        error = QStringLiteral("%1 is not a private key").arg(privateKeyPath);
        return false;
    }
    return true;
}

bool ReleaseSigner::signFile(const QString& path)
{
    unsigned char digest[HASH_SIZE];
    unsigned char signature[KEY_FILE_SIZE];
    unsigned long length = sizeof signature;
    try {
        if (FileDigest::sha1(path, digest) != FileBlockReader::Ok) {
            error = QStringLiteral("cannot read %1").arg(path);
            return false;
        }
        sign_hash(key.get(), digest, sizeof digest, signature, &length);
    } catch (const crypt_exception& e) {
        error = QStringLiteral("cannot sign %1: %2").arg(path, QString::fromLocal8Bit(e.what()));
        return false;
    }
    QSaveFile out(path + QStringLiteral(".sig"));
    if (!out.open(QIODevice::WriteOnly)
        || out.write(reinterpret_cast<const char*>(signature), qint64(length)) != qint64(length)
        || !out.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString());
        return false;
    }
    return true;
}
