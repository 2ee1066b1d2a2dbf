#include "checksigfunc.h"

#include "crypt.h"
#include "filedigest.h"
#include "ownedrsakey.h"
#include "publickey.h"

#include <QFile>

CheckSigFunc::CheckSigFunc(const QString& filePath, const QString& expectedMd5,
    const QString& signaturePath, const QString& expectedSha256)
    : filePath(filePath)
    , expectedMd5(expectedMd5)
    , signaturePath(signaturePath.isEmpty() ? filePath + QStringLiteral(".sig") : signaturePath)
    , expectedSha256(expectedSha256)
{
}

bool CheckSigFunc::run()
{
    return expectedMd5.isEmpty() ? checkRSA() : checkMD5();
}

bool CheckSigFunc::checkMD5()
{
    try {
        QByteArray hex;
        QByteArray sha256;
        if (!readSucceeded(filePath, FileDigest::md5(filePath, hex, sha256Wanted(sha256))))
            return false;
        return QString::fromLatin1(hex).compare(expectedMd5, Qt::CaseInsensitive) == 0
            && sha256Matches(sha256);
    } catch (const std::exception&) {
        return false;
    }
}

bool CheckSigFunc::checkRSA()
{
    try {
        unsigned char digest[HASH_SIZE];
        QByteArray sha256;
        if (!readSucceeded(filePath, FileDigest::sha1(filePath, digest, sha256Wanted(sha256)))
            || !sha256Matches(sha256))
            return false;
        QByteArray signature;
        if (!readFile(signaturePath, signature))
            return false;
        OwnedRsaKey key;
        load_key(key.get(), PUBLIC_KEY, sizeof PUBLIC_KEY);
        return verify_hash(key.get(), digest, sizeof digest,
            reinterpret_cast<const unsigned char*>(signature.constData()),
            static_cast<unsigned long>(signature.size()));
    } catch (const std::exception&) {
        // A bad key, a signature of the wrong length or garbage: the file is simply not
        // verified, and the task says so.
        return false;
    }
}

bool CheckSigFunc::readFile(QString path, QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        emit message(QStringLiteral("Could not open file %1 for reading").arg(path));
        return false;
    }
    const qint64 size = file.size();
    // Far larger than any signature: not one, and not worth holding in memory. The check
    // fails as it does for any other signature of the wrong length.
    if (size > maxWholeFileSize)
        return false;
    data.resize(size);
    if (file.read(data.data(), size) != size) {
        emit message(QStringLiteral("could not read file %1 correctly").arg(path));
        return false;
    }
    return true;
}

bool CheckSigFunc::readSucceeded(const QString& path, FileBlockReader::Result result)
{
    switch (result) {
    case FileBlockReader::Ok:
        return true;
    case FileBlockReader::OpenFailed:
        emit message(QStringLiteral("Could not open file %1 for reading").arg(path));
        return false;
    case FileBlockReader::ReadFailed:
    case FileBlockReader::Stopped:
        break;
    }
    emit message(QStringLiteral("could not read file %1 correctly").arg(path));
    return false;
}

QByteArray* CheckSigFunc::sha256Wanted(QByteArray& hex) const
{
    return expectedSha256.isEmpty() ? nullptr : &hex;
}

bool CheckSigFunc::sha256Matches(const QByteArray& hex)
{
    if (expectedSha256.isEmpty()
        || QString::fromLatin1(hex).compare(expectedSha256, Qt::CaseInsensitive) == 0)
        return true;
    emit message(
        QStringLiteral("The SHA-256 of %1 is not the one the file list names").arg(filePath));
    return false;
}
