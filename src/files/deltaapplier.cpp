#include "deltaapplier.h"

#include <QByteArray>
#include <QFile>

// ZSTD_d_stableOutBuffer: the library's experimental parameters, stable since zstd 1.4.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <memory>

namespace {
// 2 GiB: the largest window a 64-bit zstd writes, enough for a reference of up to 1 GiB.
constexpr int windowLogMax = 31;

struct DCtxFree
{
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

bool decompress(ZSTD_DCtx* context, QFile& delta, uchar* output, qint64 resultSize,
    QString& problem)
{
    QByteArray chunk(int(ZSTD_DStreamInSize()), Qt::Uninitialized);
    // One output buffer for the whole frame: stableOutBuffer requires it to stay the same.
    ZSTD_outBuffer out { output, size_t(resultSize), 0 };
    size_t remaining = 1;
    while (remaining != 0) {
        const qint64 read = delta.read(chunk.data(), chunk.size());
        if (read < 0) {
            problem = QStringLiteral("cannot read the delta");
            return false;
        }
        // At the end of the delta the decoder is asked once more for what it still holds.
        ZSTD_inBuffer in { chunk.constData(), size_t(read), 0 };
        if (read == 0) {
            remaining = ZSTD_decompressStream(context, &out, &in);
            if (ZSTD_isError(remaining) || remaining != 0) {
                problem = QStringLiteral("the delta ends before its frame");
                return false;
            }
        }
        while (in.pos < in.size && remaining != 0) {
            remaining = ZSTD_decompressStream(context, &out, &in);
            if (ZSTD_isError(remaining)) {
                problem = QStringLiteral("the delta does not decode: %1")
                              .arg(QString::fromLatin1(ZSTD_getErrorName(remaining)));
                return false;
            }
        }
        if (remaining == 0 && (in.pos < in.size || !delta.atEnd())) {
            problem = QStringLiteral("the delta holds more than one frame");
            return false;
        }
    }
    if (qint64(out.pos) != resultSize) {
        problem = QStringLiteral("the delta makes %1 bytes, not %2")
                      .arg(QString::number(out.pos), QString::number(resultSize));
        return false;
    }
    return true;
}
}

bool DeltaApplier::apply(const QString& referencePath, const QString& deltaPath,
    const QString& outputPath, qint64 resultSize, QString& problem)
{
    QFile reference(referencePath);
    QFile delta(deltaPath);
    if (!reference.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("cannot read the installed file");
        return false;
    }
    if (!delta.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("cannot read the delta");
        return false;
    }
    const qint64 referenceSize = reference.size();
    const uchar* prefix = referenceSize > 0 ? reference.map(0, referenceSize) : nullptr;
    if (referenceSize > 0 && !prefix) {
        problem = QStringLiteral("cannot map the installed file");
        return false;
    }
    QFile output(outputPath);
    // A file of the result's size that the decoder fills: no buffer the size of the window.
    if (resultSize <= 0 || !output.open(QIODevice::ReadWrite | QIODevice::Truncate)
        || !output.resize(resultSize)) {
        problem = QStringLiteral("cannot write %1").arg(outputPath);
        output.remove();
        return false;
    }
    uchar* target = output.map(0, resultSize);
    const std::unique_ptr<ZSTD_DCtx, DCtxFree> context(ZSTD_createDCtx());
    bool ok = target && context
        && !ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, windowLogMax))
        && !ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_stableOutBuffer, 1))
        && !ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), prefix, size_t(referenceSize)));
    if (!ok)
        problem = QStringLiteral("cannot set up the delta's decoder");
    else
        ok = decompress(context.get(), delta, target, resultSize, problem);
    if (target && !output.unmap(target) && ok) {
        problem = QStringLiteral("cannot write %1").arg(outputPath);
        ok = false;
    }
    if (ok && !output.flush()) {
        problem = QStringLiteral("cannot write %1").arg(outputPath);
        ok = false;
    }
    if (!ok)
        output.remove();
    return ok;
}
