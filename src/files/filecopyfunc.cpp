#include "filecopyfunc.h"

#include <QFile>

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr size_t blockSize = 1 << 20;

bool writeAll(int out, const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(out, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

// Copies the next `remaining` bytes through user space; fails when the source ends early.
bool copyBlocks(int in, int out, off_t remaining)
{
    const std::unique_ptr<char[]> block(new char[blockSize]);
    while (remaining > 0) {
        const ssize_t n = ::read(in, block.get(), size_t(qMin<off_t>(remaining, blockSize)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || !writeAll(out, block.get(), size_t(n)))
            return false;
        remaining -= n;
    }
    return true;
}

// Copies `remaining` bytes from the current offsets, inside the kernel where it can.
bool copyContent(int in, int out, off_t remaining)
{
#ifdef Q_OS_LINUX
    while (remaining > 0) {
        const ssize_t n = ::copy_file_range(
            in, nullptr, out, nullptr, size_t(qMin<off_t>(remaining, 1 << 30)), 0);
        if (n > 0) {
            remaining -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Older kernels and some file systems cannot copy between these two files (or report
        // an early end where there is none): the offsets have moved with what was copied, so
        // the plain loop goes on from there. Anything else is a real failure (EIO, ENOSPC,
        // EFBIG at a file size limit).
        const bool unsupported
            = n == 0 || errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL;
        if (!unsupported)
            return false;
        break;
    }
#endif
    return copyBlocks(in, out, remaining);
}

// Creates destination and fills it from the open source; removes it again on any failure.
bool copyToNewFile(int in, const QByteArray& destination, int permissions)
{
    struct stat source;
    if (::fstat(in, &source) != 0 || !S_ISREG(source.st_mode))
        return false;
    // O_EXCL: an installed file is never overwritten in place, and a file we did not create is
    // never removed below. Private until complete; it gets its final bits at the end.
    const int out = ::open(
        destination.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (out < 0)
        return false;
    // The size when opened: a source that shrinks meanwhile fails the copy instead of giving a
    // short file.
    bool ok = copyContent(in, out, source.st_size) && ::fchmod(out, mode_t(permissions)) == 0;
    // Some file systems report a failed write only when the file is closed.
    if (::close(out) != 0)
        ok = false;
    if (!ok)
        ::unlink(destination.constData());
    return ok;
}
}

FileCopyFunc::FileCopyFunc(
    const QString& sourcePath, const QString& destinationPath, int permissions)
    : SlowFileOpFunc(sourcePath, destinationPath, permissions)
{
}

bool FileCopyFunc::run()
{
    const int in = ::open(QFile::encodeName(sourcePath).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const bool ok = copyToNewFile(in, QFile::encodeName(destinationPath), permissions);
    ::close(in);
    return ok;
}
