#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

struct stat;

// What the plan found for each installed file last time: its MD5 (and its SHA-256 where one was
// known: taken for a delta's base, or listed for a file the update wrote), and the file's
// identity and times when it was hashed, kept in "update.statcache" in the installation root. A file whose
// size, modification and change times (nanoseconds), inode and device are unchanged is taken
// to hold what it held, so the plan hashes only files that changed. The change time cannot be
// set back by a program (touch restores the modification time, not it), so a file rewritten
// in place with its old size and time is still found. A file modified no earlier than the cache
// was written may have changed after it was hashed within the same clock tick ("racily clean")
// and is hashed again.
//
// The file, written whole to "update.statcache.new" and renamed over the old one:
//   crv-statcache 2 <root device> <root inode> <entry count>\n
//   <size> <mtime ns> <ctime ns> <inode> <device> <md5 hex> <sha256 hex or -> <install-relative
//   path>\n ...
//   end <md5 hex of every byte before this line>\n
// A cache that does not read back exactly so (damaged, cut short, another format version, or
// copied from another installation, whose root is another directory) is ignored as a whole;
// so is a version 1 cache (no SHA-256 field), at the cost of hashing every file once.
//
// lookup() and record() may be called from several threads at once.
class StatCache
{
public:
    // Lower-case hex; sha256 is empty where none is known.
    struct Digests
    {
        QByteArray md5;
        QByteArray sha256;
    };

    StatCache() = default;
    // A copy takes the entries, not the lock.
    StatCache(const StatCache& other);
    StatCache& operator=(const StatCache& other);

    static QString fileName();

    void clear();

    // Reads the cache of the installation at root. Without a usable one it is empty, and
    // problem (when given) says why, unless there was simply none.
    void load(const QString& root, QString* problem = nullptr);
    // The digests recorded for the file at relativePath with exactly this status, or none.
    Digests lookup(const QString& relativePath, const struct stat& status) const;
    // Keeps what this run found for the file; save() writes only what was recorded.
    void record(const QString& relativePath, const struct stat& status, const QByteArray& md5,
        const QByteArray& sha256 = QByteArray());
    // The plan replaces the file with one of these digests; recordWritten() records them once
    // it is written.
    void expectWritten(const QString& relativePath, const Digests& digests);
    // Records every expected file as it is now, after the update was committed.
    void recordWritten(const QString& root);
    // Only time is lost without it: the next plan hashes what it cannot trust. problem (when
    // given) says so.
    bool save(const QString& root, QString* problem = nullptr);

private:
    bool writeFile(const QString& root) const;
    struct Entry
    {
        qint64 size = 0;
        qint64 modified = 0;
        qint64 changed = 0;
        quint64 inode = 0;
        quint64 device = 0;
        Digests digests;
    };
    static Entry entryFor(const struct stat& status);

    QHash<QString, Entry> m_loaded;
    qint64 m_writtenAt = 0;
    QHash<QString, Entry> m_recorded;
    QHash<QString, Digests> m_expected;
    mutable QMutex m_mutex;
};
