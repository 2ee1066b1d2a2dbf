#pragma once

#include <QString>

// An exclusive advisory lock (flock) on one file, held from a successful tryLock() until
// unlock() or destruction. The lock belongs to the open file, not to the process: a second
// FileLock on the same path is refused even within this process. The kernel drops the lock when
// the process ends, however it ends, so a lock is never stale and needs no clean-up; the file
// itself stays (removing it while others may have it open would let two holders lock two
// different files of the same name). The file is created when missing, never through a
// symbolic link, and must be a regular file. Not copyable; any thread, one at a time.
class FileLock
{
public:
    enum Result { Locked, Busy, Failed };

    explicit FileLock(const QString& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Locked also when this object holds the lock already; Busy while another holder has it;
    // Failed when the file cannot be opened or locked (errorString() says why). Never waits.
    Result tryLock();
    void unlock();
    bool isLocked() const { return fd >= 0; }
    const QString& path() const { return filePath; }
    // Why the last tryLock() failed.
    const QString& errorString() const { return error; }

private:
    QString filePath;
    QString error;
    int fd = -1;
};
