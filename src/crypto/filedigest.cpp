#include "filedigest.h"

#include "sha1state.h"

#include <QCryptographicHash>

FileBlockReader::Result FileDigest::md5(const QString& path, QByteArray& hex)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    const FileBlockReader::Result result
        = FileBlockReader::read(path, [&hash](const char* data, qint64 length) {
              hash.addData(QByteArrayView(data, length));
              return true;
          });
    if (result == FileBlockReader::Ok)
        hex = hash.result().toHex();
    return result;
}

FileBlockReader::Result FileDigest::sha1(const QString& path, unsigned char* digest)
{
    Sha1_state state;
    const FileBlockReader::Result result
        = FileBlockReader::read(path, [&state](const char* data, qint64 length) {
              state.process(
                  reinterpret_cast<const unsigned char*>(data), static_cast<unsigned long>(length));
              return true;
          });
    if (result == FileBlockReader::Ok)
        state.done(digest);
    return result;
}
