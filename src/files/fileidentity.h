#pragma once

#include <QByteArray>
#include <QString>

struct stat;

// What makes a name's entry provably the one an operation planned to move: the device and inode
// of an entry that exists when the plan is made (a link or rename keeps both), or the size and
// MD5 of a file the plan will write. Unknown for entries planned without one.
class FileIdentity
{
public:
    FileIdentity() = default;
    // The entry at path itself (a symbolic link is not followed); unknown when there is none.
    static FileIdentity ofEntry(const QString& path);
    // The same from what lstat gave for it.
    static FileIdentity ofEntry(const struct stat& info);
    // A regular file of size bytes whose MD5 is md5Hex; unknown when md5Hex is empty.
    static FileIdentity ofContent(quint64 size, const QString& md5Hex);

    bool isKnown() const { return kind != Unknown; }
    // Whether the entry at path is the one identified. Reads the whole file for a content.
    bool matches(const QString& path) const;

    // One field without spaces: "inode:DEV:INO" or "md5:SIZE:HEX".
    QByteArray encode() const;
    // False when field is no identity of either form.
    static bool decode(const QByteArray& field, FileIdentity& identity);

private:
    enum Kind { Unknown, Inode, Content };
    Kind kind = Unknown;
    quint64 device = 0;
    quint64 inode = 0;
    quint64 size = 0;
    QByteArray md5;
};
