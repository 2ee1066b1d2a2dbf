#include "nameswap.h"

#include <QFile>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace NameSwap {

bool swap(const QString& first, const QString& second)
{
    const QByteArray a = QFile::encodeName(first);
    const QByteArray b = QFile::encodeName(second);
#if defined(Q_OS_LINUX)
    return ::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE) == 0;
#elif defined(Q_OS_MACOS)
    return ::renamex_np(a.constData(), b.constData(), RENAME_SWAP) == 0;
#else
    errno = ENOSYS;
    return false;
#endif
}

bool isUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}
}
