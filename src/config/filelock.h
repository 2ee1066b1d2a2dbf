#pragma once

#include <QString>

// An exclusive advisory lock (flock) on one file, held from a successful tryLock() until
// unlock() or destruction. The lock belongs to the open file, not to the process: a second
// FileLock on the same path is refused even within this process. The kernel drops the lock when
// the process ends, however it ends, so a lock is never stale and needs no clean-up. The file is
// created when missing, never through a symbolic link, and must be a regular file.
//
// With RemoveFile the holder deletes the file when it gives the lock up (a killed holder leaves
// it, empty, for the next one). A FileLock that locks a file just deleted that way notices it
// and locks the file now at the path instead, so two holders never hold two files of one name.
// Only for a path no one else deletes or recreates: a holder deletes the file at the path only
// while it is still the one it locked. Not copyable; any thread, one at a time.
class FileLock
{
public:
    enum Result { Locked, Busy, Failed };
    enum Disposal { KeepFile, RemoveFile };

    explicit FileLock(const QString& path, Disposal disposal = KeepFile);
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
    Result lockOnce();
    bool pathLeadsToLockedFile() const;

    QString filePath;
    Disposal disposal;
    QString error;
    int fd = -1;
};
