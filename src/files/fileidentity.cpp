#include "fileidentity.h"

#include "filedigest.h"
#include "pathstat.h"

#include <QList>

#include <algorithm>

#include <sys/stat.h>

namespace {
const QByteArray inodeWord = QByteArrayLiteral("inode");
const QByteArray contentWord = QByteArrayLiteral("md5");

bool isHex(const QByteArray& text)
{
    return text.size() == 32
        && std::all_of(text.cbegin(), text.cend(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}
}

FileIdentity FileIdentity::ofEntry(const QString& path)
{
    struct stat info;
    return PathStat::exists(path, &info) ? ofEntry(info) : FileIdentity();
}

FileIdentity FileIdentity::ofEntry(const struct stat& info)
{
    FileIdentity identity;
    identity.kind = Inode;
    identity.device = quint64(info.st_dev);
    identity.inode = quint64(info.st_ino);
    return identity;
}

FileIdentity FileIdentity::ofContent(quint64 size, const QString& md5Hex)
{
    FileIdentity identity;
    const QByteArray md5 = md5Hex.toLatin1().toLower();
    if (!isHex(md5))
        return identity;
    identity.kind = Content;
    identity.size = size;
    identity.md5 = md5;
    return identity;
}

bool FileIdentity::matches(const QString& path) const
{
    struct stat info;
    if (kind == Unknown || !PathStat::exists(path, &info))
        return false;
    if (kind == Inode)
        return quint64(info.st_dev) == device && quint64(info.st_ino) == inode;
    if (!S_ISREG(info.st_mode) || quint64(info.st_size) != size)
        return false;
    QByteArray found;
    return FileDigest::md5(path, found) == FileBlockReader::Ok && found == md5;
}

QByteArray FileIdentity::encode() const
{
    switch (kind) {
    case Inode:
        return inodeWord + ':' + QByteArray::number(device) + ':' + QByteArray::number(inode);
    case Content:
        return contentWord + ':' + QByteArray::number(size) + ':' + md5;
    case Unknown:
        break;
    }
    return QByteArray();
}

bool FileIdentity::decode(const QByteArray& field, FileIdentity& identity)
{
    const QList<QByteArray> parts = field.split(':');
    if (parts.size() != 3)
        return false;
    bool first = false, second = false;
    const quint64 number = parts.at(1).toULongLong(&first);
    if (parts.first() == inodeWord) {
        identity.kind = Inode;
        identity.device = number;
        identity.inode = parts.at(2).toULongLong(&second);
        return first && second;
    }
    if (parts.first() == contentWord && isHex(parts.at(2))) {
        identity.kind = Content;
        identity.size = number;
        identity.md5 = parts.at(2);
        return first;
    }
    return false;
}
