#include "filelock.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Each retry means a holder deleted the file between our open and our lock; a handful of
// holders coming and going in that instant is already beyond any real use.
constexpr int ReplacedFileRetries = 8;
} // namespace

FileLock::FileLock(const QString& path, Disposal disposal)
    : filePath(path)
    , disposal(disposal)
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
    for (int attempt = 0; attempt < ReplacedFileRetries; ++attempt) {
        const Result result = lockOnce();
        if (result != Locked || pathLeadsToLockedFile())
            return result;
        // We locked a file its last holder has just deleted: the path's file is the lock now.
        ::close(fd);
        fd = -1;
    }
    return Busy;
}

FileLock::Result FileLock::lockOnce()
{
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

bool FileLock::pathLeadsToLockedFile() const
{
    struct stat locked;
    struct stat atPath;
    return ::fstat(fd, &locked) == 0
        && ::lstat(QFile::encodeName(filePath).constData(), &atPath) == 0
        && locked.st_dev == atPath.st_dev && locked.st_ino == atPath.st_ino;
}

void FileLock::unlock()
{
    if (fd < 0)
        return;
    // Deleted while still locked, so that no one locks it in between and keeps an orphan.
    if (disposal == RemoveFile && pathLeadsToLockedFile())
        ::unlink(QFile::encodeName(filePath).constData());
    // Closing the only descriptor of this open file releases its lock.
    ::close(fd);
    fd = -1;
}
