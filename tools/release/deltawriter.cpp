#include "deltawriter.h"

#include <QFile>

#include <zstd.h>

#include <memory>

namespace {
// A middle level: long-distance matching finds the unchanged runs whatever the level, and a
// gigabyte file must not take hours.
constexpr int compressionLevel = 9;

struct CCtxFree
{
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

// The smallest window that covers base and file together, as the decoder must see both; the
// library's own bounds (31 at most on 64-bit systems) cap it.
int windowLogFor(qint64 span)
{
    const ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_windowLog);
    int log = bounds.lowerBound;
    while (log < bounds.upperBound && (qint64(1) << log) < span)
        ++log;
    return log;
}

// A mapping of a whole file; an empty file maps to nothing.
class MappedFile
{
public:
    explicit MappedFile(const QString& path)
        : file(path)
    {
        if (!file.open(QIODevice::ReadOnly))
            return;
        size = file.size();
        data = size > 0 ? file.map(0, size) : nullptr;
        ok = size == 0 || data;
    }
    QFile file;
    uchar* data = nullptr;
    qint64 size = 0;
    bool ok = false;
};
}

bool DeltaWriter::fail(const QString& message)
{
    error = message;
    return false;
}

bool DeltaWriter::write(const QString& base, const QString& file, const QString& dest, bool& written)
{
    written = false;
    const MappedFile reference(base);
    const MappedFile source(file);
    if (!reference.ok)
        return fail(QStringLiteral("cannot read %1").arg(base));
    if (!source.ok)
        return fail(QStringLiteral("cannot read %1").arg(file));
    if (source.size < minSize || source.size > maxSize || reference.size < minSize
        || reference.size > maxSize)
        return true;

    const std::unique_ptr<ZSTD_CCtx, CCtxFree> context(ZSTD_createCCtx());
    if (!context)
        return fail(QStringLiteral("out of memory for the delta of %1").arg(file));
    ZSTD_CCtx* cctx = context.get();
    const int windowLog = windowLogFor(reference.size + source.size);
    if (ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, compressionLevel))
        || ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1))
        || ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, windowLog))
        || ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1))
        || ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(cctx, quint64(source.size)))
        || ZSTD_isError(ZSTD_CCtx_refPrefix(cctx, reference.data, size_t(reference.size))))
        return fail(QStringLiteral("cannot set up the delta of %1").arg(file));

    QFile out(dest);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("cannot write %1").arg(dest));
    const qint64 limit = qint64(double(source.size) * maxShare);
    QByteArray chunk(int(ZSTD_CStreamOutSize()), Qt::Uninitialized);
    ZSTD_inBuffer input { source.data, size_t(source.size), 0 };
    size_t remaining = 0;
    do {
        ZSTD_outBuffer output { chunk.data(), size_t(chunk.size()), 0 };
        remaining = ZSTD_compressStream2(cctx, &output, &input, ZSTD_e_end);
        if (ZSTD_isError(remaining)) {
            out.remove();
            return fail(QStringLiteral("cannot make the delta of %1: %2")
                            .arg(file, QString::fromLatin1(ZSTD_getErrorName(remaining))));
        }
        if (out.write(chunk.constData(), qint64(output.pos)) != qint64(output.pos)) {
            out.remove();
            return fail(QStringLiteral("cannot write %1").arg(dest));
        }
        // Not worth it: stop early rather than compress the rest of a file that changed a lot.
        if (out.pos() >= limit) {
            out.remove();
            return true;
        }
    } while (remaining != 0);
    if (!out.flush()) {
        out.remove();
        return fail(QStringLiteral("cannot write %1").arg(dest));
    }
    written = true;
    return true;
}
