#include "filelock.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

FileLock::FileLock(const QString& path)
    : filePath(path)
{
}

FileLock::~FileLock()
{
    unlock();
}

FileLock::Result FileLock::tryLock()
{
    if (fd >= 0)
        return Locked;
    error.clear();
    // Read access is enough for flock, so a lock file another user created can be shared.
    // O_NONBLOCK: a FIFO put in its place must not hang the open.
    const int opened = ::open(QFile::encodeName(filePath).constData(),
        O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (opened < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return Failed;
    }
    struct stat st;
    if (::fstat(opened, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = QStringLiteral("not a regular file");
        ::close(opened);
        return Failed;
    }
    int result;
    do {
        result = ::flock(opened, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int lockError = errno;
        ::close(opened);
        if (lockError == EWOULDBLOCK)
            return Busy;
        error = QString::fromLocal8Bit(std::strerror(lockError));
        return Failed;
    }
    fd = opened;
    return Locked;
}

void FileLock::unlock()
{
    if (fd < 0)
        return;
    // Closing the only descriptor of this open file releases its lock.
    ::close(fd);
    fd = -1;
}
