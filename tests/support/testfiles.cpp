#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtDebug>

#include <sys/stat.h>
#include <zlib.h>

bool TestFiles::write(const QString& path, const QByteArray& content, int mode)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(content) != content.size()) {
        qWarning() << "cannot write" << path << file.errorString();
        return false;
    }
    file.close();
    if (mode >= 0 && ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) != 0) {
        qWarning() << "cannot set the mode of" << path;
        return false;
    }
    return true;
}

QByteArray TestFiles::read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray TestFiles::noise(qsizetype size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& c : data)
        c = char(generator.generate());
    return data;
}

QByteArray TestFiles::gzipped(const QByteArray& data)
{
    z_stream stream {};
    // 16 + MAX_WBITS selects the gzip wrapper.
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return out;
}
