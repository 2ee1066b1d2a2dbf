// The signature checks with arbitrary key, file and signature bytes. Input parts: a key (DER
// RSA public key, or Ed25519 public key PEM), the signed file, its signature (RSA .sig bytes,
// or the lines of a .sig2, or a version-list signature entry), and a sha256sum list.
#include "checksigfunc.h"
#include "crypt.h"
#include "ed25519signaturefile.h"
#include "fuzzscratch.h"
#include "ownedrsakey.h"
#include "sha256sums.h"
#include "trustedkeys.h"
#include "versionlistsignature.h"

#include <QCryptographicHash>

namespace {
QString folder;

const unsigned char* bytes(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

void checkRsa(const QByteArray& key, const QByteArray& file, const QByteArray& signature)
{
    // A key of our own choosing: every library failure is an exception, never a crash.
    try {
        OwnedRsaKey rsaKey;
        load_key(rsaKey.get(), bytes(key), static_cast<unsigned long>(key.size()));
        verify_msg(rsaKey.get(), bytes(file), static_cast<unsigned long>(file.size()),
            bytes(signature), static_cast<unsigned long>(signature.size()));
    } catch (const crypt_exception&) {
    }
    // The built-in key, the way a downloaded file and its .sig are checked.
    const QString path = folder + QStringLiteral("/file");
    if (!FuzzScratch::write(path, file) || !FuzzScratch::write(path + QStringLiteral(".sig"), signature))
        abort();
    CheckSigFunc check(path, QString());
    check.run();
}

void checkEd25519(const QByteArray& key, const QByteArray& file, const QByteArray& signature)
{
    Ed25519SignatureFile::verifies(signature, file, TrustedKeys({ key }));
    Ed25519SignatureFile::verifies(signature, file, TrustedKeys::builtIn(TrustedKeys::Release));

    VersionListSignature entry;
    if (VersionListSignature::parse(QString::fromLatin1(signature), &entry)) {
        const QStringList channels = QString::fromLatin1(file).split(QLatin1Char(','));
        if (channels.size() == 3)
            VersionListSignature::message(channels, entry.serial, entry.expires);
    }
}

void checkSums(const QByteArray& list)
{
    const QString path = folder + QStringLiteral("/list.sha256");
    if (!FuzzScratch::write(path, list))
        abort();
    Sha256Sums loaded;
    const QString digest
        = QString::fromLatin1(QCryptographicHash::hash(list, QCryptographicHash::Sha256).toHex());
    const Sha256Sums::Result result = loaded.load(path, digest);
    // The same bytes parse the same way from the disk as from memory.
    if ((result == Sha256Sums::Ok) != Sha256Sums().parse(list))
        abort();
}
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzScratch::initialize(argc, argv);
    crypt_init();
    folder = FuzzScratch::freshFolder(QStringLiteral("work"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> input = FuzzScratch::parts(data, size, 4);
    checkRsa(input.at(0), input.at(1), input.at(2));
    checkEd25519(input.at(0), input.at(1), input.at(2));
    checkSums(input.at(3));
    return 0;
}
