#include "releasefilewriter.h"

#include "fileblockreader.h"

#include <QCryptographicHash>
#include <QFile>

#include <zlib.h>

bool ReleaseFileWriter::copy(const QString& source, const QString& dest, QByteArray& sourceMd5)
{
    QFile out(dest);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        error = QStringLiteral("cannot create %1: %2").arg(dest, out.errorString());
        return false;
    }
    QCryptographicHash md5(QCryptographicHash::Md5);
    const FileBlockReader::Result result
        = FileBlockReader::read(source, [&](const char* data, qint64 length) {
              md5.addData(QByteArrayView(data, length));
              return out.write(data, length) == length;
          });
    if (result == FileBlockReader::Stopped || !out.flush()) {
        error = QStringLiteral("cannot write %1: %2").arg(dest, out.errorString());
        return false;
    }
    if (readFailed(source, result))
        return false;
    sourceMd5 = md5.result().toHex();
    return true;
}

bool ReleaseFileWriter::pack(const QString& source, const QString& dest, QByteArray& sourceMd5)
{
    if (QFile::exists(dest)) {
        error = QStringLiteral("cannot create %1: it exists").arg(dest);
        return false;
    }
    gzFile out = gzopen(QFile::encodeName(dest).constData(), "wb9");
    if (out == nullptr) {
        error = QStringLiteral("cannot create %1").arg(dest);
        return false;
    }
    QCryptographicHash md5(QCryptographicHash::Md5);
    const FileBlockReader::Result result
        = FileBlockReader::read(source, [&](const char* data, qint64 length) {
              md5.addData(QByteArrayView(data, length));
              return gzwrite(out, data, unsigned(length)) == int(length);
          });
    // gzclose flushes the last deflate block and the trailer: its failure loses data too.
    const bool closed = gzclose(out) == Z_OK;
    if (result == FileBlockReader::Stopped || !closed) {
        error = QStringLiteral("cannot write %1").arg(dest);
        return false;
    }
    if (readFailed(source, result))
        return false;
    sourceMd5 = md5.result().toHex();
    return true;
}

bool ReleaseFileWriter::readFailed(const QString& source, FileBlockReader::Result result)
{
    if (result == FileBlockReader::Ok)
        return false;
    error = result == FileBlockReader::OpenFailed
        ? QStringLiteral("cannot open %1 for reading").arg(source)
        : QStringLiteral("cannot read %1 completely").arg(source);
    return true;
}
