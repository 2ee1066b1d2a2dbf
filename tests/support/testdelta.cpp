#include "testdelta.h"

#include <zstd.h>

QByteArray TestDelta::make(const QByteArray& base, const QByteArray& target)
{
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, 27);
    ZSTD_CCtx_refPrefix(context, base.constData(), size_t(base.size()));
    QByteArray delta(qsizetype(ZSTD_compressBound(size_t(target.size()))), Qt::Uninitialized);
    const size_t size = ZSTD_compress2(
        context, delta.data(), size_t(delta.size()), target.constData(), size_t(target.size()));
    ZSTD_freeCCtx(context);
    delta.resize(ZSTD_isError(size) ? 0 : qsizetype(size));
    return delta;
}
