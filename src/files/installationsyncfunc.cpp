#include "installationsyncfunc.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

InstallationSyncFunc::InstallationSyncFunc(const QString& rootPath)
    : rootPath(rootPath)
{
}

bool InstallationSyncFunc::run()
{
#ifdef Q_OS_LINUX
    // Only the installation's file system, not every disk of the machine.
    const int fd = ::open(QFile::encodeName(rootPath).constData(), O_RDONLY | O_DIRECTORY);
    const bool ok = fd >= 0 && ::syncfs(fd) == 0;
#else
    const int fd = ::open(QFile::encodeName(rootPath).constData(), O_RDONLY);
    const bool ok = fd >= 0;
    if (ok)
        ::sync();
#endif
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!ok) {
        emit message(QStringLiteral("Could not flush the installation %1 to disk: %2")
                         .arg(rootPath, QString::fromLocal8Bit(std::strerror(error))));
    }
    return ok;
}
