#include "testsigning.h"

#include "crypt.h"
#include "ed25519key.h"
#include "filedigest.h"
#include "ownedrsakey.h"
#include "versionlistsignature.h"

#include <QFile>
#include <QSaveFile>

bool TestSigning::signFile(const QString& path)
{
    try {
        crypt_init();
        OwnedRsaKey key;
        load_key(key.get(), CRV_TEST_PRIVATE_KEY_FILE);
        unsigned char digest[HASH_SIZE];
        if (FileDigest::sha1(path, digest) != FileBlockReader::Ok)
            return false;
        unsigned char signature[KEY_FILE_SIZE];
        unsigned long length = sizeof signature;
        sign_hash(key.get(), digest, sizeof digest, signature, &length);
        QSaveFile out(path + QStringLiteral(".sig"));
        return out.open(QIODevice::WriteOnly)
            && out.write(reinterpret_cast<const char*>(signature), qint64(length)) == qint64(length)
            && out.commit();
    } catch (const crypt_exception&) {
        return false;
    }
}

namespace {
Ed25519Key demoKey(const char* name)
{
    QFile file(QStringLiteral(CRV_SOURCE_DIR "/keys/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? Ed25519Key::fromPem(file.readAll()) : Ed25519Key();
}

const Ed25519Key& demoVersionsKey()
{
    static const Ed25519Key key = demoKey("demo-ed25519-versions-private.pem");
    return key;
}
} // namespace

Ed25519Key TestSigning::demoReleaseKey()
{
    return demoKey("demo-ed25519-release-private.pem");
}

QByteArray TestSigning::signedVersionList(const QString& list, qint64 serial, qint64 expires)
{
    VersionListSignature signature;
    signature.serial = serial;
    signature.expires = expires;
    signature.keyId = demoVersionsKey().keyId();
    signature.signature = demoVersionsKey().sign(VersionListSignature::message(
        list.split(QLatin1Char(','), Qt::KeepEmptyParts), serial, expires));
    return (list + QLatin1Char(',') + signature.entry()).toLatin1();
}

QString TestSigning::versionsKeyId()
{
    return demoVersionsKey().keyId();
}
