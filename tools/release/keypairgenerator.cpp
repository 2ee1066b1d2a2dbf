#include "keypairgenerator.h"

#include "ed25519key.h"
#include "ownedrsakey.h"

#include <QDir>
#include <QFile>

namespace {

// Creates the file empty with its final permissions, so a private key is never readable by
// others, not even for a moment; NewOnly refuses an existing file.
bool createNew(const QString& path, QFile::Permissions permissions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly, permissions);
}

} // namespace

bool KeyPairGenerator::createPair(const QString& privatePath, const QString& publicPath)
{
    const QString dir = QFileInfo(privatePath).path();
    for (const QString& path : { privatePath, publicPath }) {
        if (QFileInfo::exists(path)) {
            error = QStringLiteral("%1 already exists; refusing to overwrite a key").arg(path);
            return false;
        }
    }
    if (!QDir().mkpath(dir)) {
        error = QStringLiteral("cannot create directory %1").arg(dir);
        return false;
    }
    if (!createNew(privatePath, QFile::ReadOwner | QFile::WriteOwner)) {
        error = QStringLiteral("cannot create %1").arg(privatePath);
        return false;
    }
    if (!createNew(publicPath,
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther)) {
        error = QStringLiteral("cannot create %1").arg(publicPath);
        QFile::remove(privatePath);
        return false;
    }
    return true;
}

bool KeyPairGenerator::generate(const QString& dir)
{
    const QString privatePath = QDir(dir).filePath(privateKeyName());
    const QString publicPath = QDir(dir).filePath(publicKeyName());
    if (!createPair(privatePath, publicPath))
        return false;
    try {
        crypt_init();
        OwnedRsaKey key;
        create_key(key.get());
        save_key(key.get(), PK_PRIVATE, QFile::encodeName(privatePath).constData());
        save_key(key.get(), PK_PUBLIC, QFile::encodeName(publicPath).constData());
    } catch (const crypt_exception& e) {
        error = QString::fromLocal8Bit(e.what());
        QFile::remove(privatePath);
        QFile::remove(publicPath);
        return false;
    }
    return true;
}

bool KeyPairGenerator::generateEd25519(const QString& dir, QString& keyId)
{
    const QString privatePath = QDir(dir).filePath(ed25519PrivateKeyName());
    const QString publicPath = QDir(dir).filePath(ed25519PublicKeyName());
    if (!createPair(privatePath, publicPath))
        return false;
    const Ed25519Key key = Ed25519Key::generate();
    const QByteArray privatePem = key.privatePem();
    const QByteArray publicPem = key.publicPem();
    QFile privateFile(privatePath);
    QFile publicFile(publicPath);
    if (privatePem.isEmpty() || publicPem.isEmpty()
        || !privateFile.open(QIODevice::WriteOnly | QIODevice::ExistingOnly)
        || privateFile.write(privatePem) != privatePem.size() || !privateFile.flush()
        || !publicFile.open(QIODevice::WriteOnly | QIODevice::ExistingOnly)
        || publicFile.write(publicPem) != publicPem.size() || !publicFile.flush()) {
        error = QStringLiteral("cannot write the new key to %1").arg(dir);
        privateFile.close();
        publicFile.close();
        QFile::remove(privatePath);
        QFile::remove(publicPath);
        return false;
    }
    keyId = key.keyId();
    return true;
}
