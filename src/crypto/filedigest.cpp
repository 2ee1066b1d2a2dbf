#include "filedigest.h"

#include "sha1state.h"
#include "sha256state.h"

#include <QCryptographicHash>

#include <optional>

namespace {
// Reads path once, handing every block to consume and, when sha256Hex is given, to a SHA-256
// as well, whose hex goes to sha256Hex on success.
FileBlockReader::Result readWithSha256(const QString& path,
    const std::function<void(const char*, qint64)>& consume, QByteArray* sha256Hex)
{
    std::optional<Sha256State> sha256;
    if (sha256Hex)
        sha256.emplace();
    const FileBlockReader::Result result
        = FileBlockReader::read(path, [&](const char* data, qint64 length) {
              consume(data, length);
              if (sha256)
                  sha256->process(reinterpret_cast<const unsigned char*>(data),
                      static_cast<unsigned long>(length));
              return true;
          });
    if (result == FileBlockReader::Ok && sha256) {
        unsigned char digest[Sha256State::digestSize];
        sha256->done(digest);
        *sha256Hex = QByteArray(reinterpret_cast<const char*>(digest), sizeof digest).toHex();
    }
    return result;
}
}

FileBlockReader::Result FileDigest::md5(const QString& path, QByteArray& hex, QByteArray* sha256Hex)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    const FileBlockReader::Result result = readWithSha256(
        path,
        [&hash](const char* data, qint64 length) { hash.addData(QByteArrayView(data, length)); },
        sha256Hex);
    if (result == FileBlockReader::Ok)
        hex = hash.result().toHex();
    return result;
}

FileBlockReader::Result FileDigest::sha1(
    const QString& path, unsigned char* digest, QByteArray* sha256Hex)
{
    Sha1_state state;
    const FileBlockReader::Result result = readWithSha256(
        path,
        [&state](const char* data, qint64 length) {
            state.process(
                reinterpret_cast<const unsigned char*>(data), static_cast<unsigned long>(length));
        },
        sha256Hex);
    if (result == FileBlockReader::Ok)
        state.done(digest);
    return result;
}

FileBlockReader::Result FileDigest::sha256(const QString& path, QByteArray& hex)
{
    return readWithSha256(
        path, [](const char*, qint64) {}, &hex);
}

QByteArray FileDigest::sha256(const QByteArray& data)
{
    Sha256State state;
    state.process(reinterpret_cast<const unsigned char*>(data.constData()),
        static_cast<unsigned long>(data.size()));
    unsigned char digest[Sha256State::digestSize];
    state.done(digest);
    return QByteArray(reinterpret_cast<const char*>(digest), sizeof digest).toHex();
}
