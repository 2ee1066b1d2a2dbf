#include "statcache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMutexLocker>

#include <algorithm>

#include <sys/stat.h>

namespace {
const QByteArray magic = QByteArrayLiteral("crv-statcache 2");

qint64 nanoseconds(const struct timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

bool rootIdentity(const QString& root, quint64* device, quint64* inode)
{
    struct stat status;
    if (::stat(QFile::encodeName(root).constData(), &status) != 0)
        return false;
    *device = quint64(status.st_dev);
    *inode = quint64(status.st_ino);
    return true;
}

QByteArray header(quint64 device, quint64 inode, qsizetype count)
{
    return magic + ' ' + QByteArray::number(device) + ' ' + QByteArray::number(inode) + ' '
        + QByteArray::number(count) + '\n';
}
}

StatCache::StatCache(const StatCache& other)
{
    *this = other;
}

StatCache& StatCache::operator=(const StatCache& other)
{
    if (this == &other)
        return *this;
    QMutexLocker lock(&other.m_mutex);
    m_loaded = other.m_loaded;
    m_writtenAt = other.m_writtenAt;
    m_recorded = other.m_recorded;
    m_expected = other.m_expected;
    return *this;
}

QString StatCache::fileName()
{
    return QStringLiteral("update.statcache");
}

StatCache::Entry StatCache::entryFor(const struct stat& status)
{
    Entry entry;
    entry.size = qint64(status.st_size);
#ifdef __APPLE__
    entry.modified = nanoseconds(status.st_mtimespec);
    entry.changed = nanoseconds(status.st_ctimespec);
#else
    entry.modified = nanoseconds(status.st_mtim);
    entry.changed = nanoseconds(status.st_ctim);
#endif
    entry.inode = quint64(status.st_ino);
    entry.device = quint64(status.st_dev);
    return entry;
}

void StatCache::clear()
{
    QMutexLocker lock(&m_mutex);
    m_loaded.clear();
    m_writtenAt = 0;
    m_recorded.clear();
    m_expected.clear();
}

void StatCache::load(const QString& root, QString* problem)
{
    m_loaded.clear();
    const QString path = QDir(root).filePath(fileName());
    // Left by a run killed while it wrote the cache; the cache itself is whole or absent.
    QFile::remove(path + QStringLiteral(".new"));
    QFile file(path);
    struct stat own;
    if (::stat(QFile::encodeName(path).constData(), &own) != 0 || !file.open(QIODevice::ReadOnly))
        return;
    const auto refuse = [&](const QString& why) {
        m_loaded.clear();
        if (problem)
            *problem = QStringLiteral("The stat cache %1 is not used (%2); every file is hashed")
                           .arg(path, why);
    };
    // A cache holds a few lines per installed file; a huge one is not ours.
    if (own.st_size > 256 * 1024 * 1024)
        return refuse(QStringLiteral("too large"));
    const QByteArray content = file.readAll();
    const qsizetype endLine = content.lastIndexOf("\nend ", content.size() - 2);
    if (!content.endsWith('\n') || endLine < 0)
        return refuse(QStringLiteral("damaged"));
    const QByteArray body = content.left(endLine + 1);
    if (content.mid(endLine + 5).trimmed()
        != QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex())
        return refuse(QStringLiteral("damaged"));

    QList<QByteArray> lines = body.split('\n');
    lines.removeLast();
    quint64 device = 0, inode = 0;
    if (!rootIdentity(root, &device, &inode)
        || lines.value(0) != header(device, inode, lines.size() - 1).chopped(1))
        return refuse(QStringLiteral("another version's, or another installation's"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).split(' ');
        if (fields.size() < 8 || fields.at(5).size() != 32
            || (fields.at(6) != "-" && fields.at(6).size() != 64))
            return refuse(QStringLiteral("damaged"));
        Entry entry;
        bool ok[5];
        entry.size = fields.at(0).toLongLong(&ok[0]);
        entry.modified = fields.at(1).toLongLong(&ok[1]);
        entry.changed = fields.at(2).toLongLong(&ok[2]);
        entry.inode = fields.at(3).toULongLong(&ok[3]);
        entry.device = fields.at(4).toULongLong(&ok[4]);
        if (!std::all_of(ok, ok + 5, [](bool b) { return b; }))
            return refuse(QStringLiteral("damaged"));
        entry.digests.md5 = fields.at(5);
        if (fields.at(6) != "-")
            entry.digests.sha256 = fields.at(6);
        // The path is the rest of the line: it may hold blanks.
        qsizetype at = 0;
        for (int field = 0; field < 7; ++field)
            at = lines.at(i).indexOf(' ', at) + 1;
        m_loaded.insert(QString::fromUtf8(lines.at(i).mid(at)), entry);
    }
    m_writtenAt = entryFor(own).modified;
}

StatCache::Digests StatCache::lookup(
    const QString& relativePath, const struct stat& status) const
{
    const auto found = m_loaded.constFind(relativePath);
    if (found == m_loaded.cend())
        return Digests();
    const Entry now = entryFor(status);
    const Entry& then = *found;
    if (now.size != then.size || now.modified != then.modified || now.changed != then.changed
        || now.inode != then.inode || now.device != then.device)
        return Digests();
    // Modified in the tick the cache was written in: it may have changed after its hash. (A
    // change of status alone, as a chmod, cannot change what the file holds.)
    if (now.modified >= m_writtenAt)
        return Digests();
    return then.digests;
}

void StatCache::record(const QString& relativePath, const struct stat& status,
    const QByteArray& md5, const QByteArray& sha256)
{
    Entry entry = entryFor(status);
    entry.digests.md5 = md5.toLower();
    entry.digests.sha256 = sha256.toLower();
    QMutexLocker lock(&m_mutex);
    m_recorded.insert(relativePath, entry);
}

void StatCache::expectWritten(const QString& relativePath, const Digests& digests)
{
    QMutexLocker lock(&m_mutex);
    m_expected.insert(relativePath, digests);
}

void StatCache::recordWritten(const QString& root)
{
    for (auto written = m_expected.cbegin(); written != m_expected.cend(); ++written) {
        struct stat status;
        const QByteArray path = QFile::encodeName(QDir(root).filePath(written.key()));
        if (::lstat(path.constData(), &status) == 0 && S_ISREG(status.st_mode))
            record(written.key(), status, written.value().md5, written.value().sha256);
        else
            m_recorded.remove(written.key());
    }
    m_expected.clear();
}

bool StatCache::save(const QString& root, QString* problem)
{
    if (writeFile(root))
        return true;
    if (problem)
        *problem = QStringLiteral("Could not write the stat cache; the next run hashes every file");
    return false;
}

bool StatCache::writeFile(const QString& root) const
{
    quint64 device = 0, inode = 0;
    if (!rootIdentity(root, &device, &inode))
        return false;
    QByteArray body = header(device, inode, m_recorded.size());
    QStringList paths = m_recorded.keys();
    paths.sort();
    for (const QString& relativePath : std::as_const(paths)) {
        const Entry& entry = m_recorded.value(relativePath);
        body += QByteArray::number(entry.size) + ' ' + QByteArray::number(entry.modified) + ' '
            + QByteArray::number(entry.changed) + ' ' + QByteArray::number(entry.inode) + ' '
            + QByteArray::number(entry.device) + ' ' + entry.digests.md5 + ' '
            + (entry.digests.sha256.isEmpty() ? QByteArray("-") : entry.digests.sha256) + ' '
            + relativePath.toUtf8() + '\n';
    }
    body += "end " + QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex() + '\n';
    const QString path = QDir(root).filePath(fileName());
    QFile file(path + QStringLiteral(".new"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(body) != body.size()
        || !file.flush()) {
        file.remove();
        return false;
    }
    file.close();
    if (::rename(
            QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData())
        != 0) {
        file.remove();
        return false;
    }
    return true;
}
