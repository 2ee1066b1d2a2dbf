#include "fileunzipfunc.h"

#include <QFile>

#include <sys/stat.h>
#include <zlib.h>

namespace {
constexpr int bufferSize = 16384;
}

FileUnzipFunc::FileUnzipFunc(
    const QString& sourcePath, const QString& destinationPath, int permissions, quint64 maxSize)
    : SlowFileOpFunc(sourcePath, destinationPath, permissions)
    , maxSize(maxSize)
{
}

bool FileUnzipFunc::run()
{
    return unzipFile(destinationPath, sourcePath);
}

bool FileUnzipFunc::unzipFile(const QString& destination, const QString& source)
{
    gzFile in = gzopen(source.toUtf8().constData(), "rb");
    if (!in)
        return false;
    // NewOnly: an installed file is never overwritten in place, and a file we did not create
    // is never removed on failure.
    QFile out(destination);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        gzclose(in);
        return false;
    }
    gzrewind(in);
    char buffer[bufferSize];
    bool ok = true;
    quint64 total = 0;
    for (;;) {
        const int count = gzread(in, buffer, bufferSize);
        if (count == 0)
            break;
        total += quint64(qMax(count, 0));
        if (count < 0 || (maxSize > 0 && total > maxSize) || out.write(buffer, count) != count) {
            ok = false;
            break;
        }
    }
    // zlib reports a stream that ends early only here, with Z_BUF_ERROR; a truncated download
    // must not pass for a complete file.
    if (gzclose(in) != Z_OK)
        ok = false;
    // Buffered writes can fail only when flushed.
    if (!out.flush() || ::fchmod(out.handle(), mode_t(permissions)) != 0)
        ok = false;
    out.close();
    if (!ok)
        out.remove();
    return ok;
}
