#include "testsigning.h"

#include "crypt.h"
#include "ed25519key.h"
#include "filedigest.h"
#include "ownedrsakey.h"

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

Ed25519Key TestSigning::demoReleaseKey()
{
    QFile file(QStringLiteral(CRV_SOURCE_DIR "/keys/demo-ed25519-release-private.pem"));
    return file.open(QIODevice::ReadOnly) ? Ed25519Key::fromPem(file.readAll()) : Ed25519Key();
}
