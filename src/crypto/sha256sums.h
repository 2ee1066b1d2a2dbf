#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// The file list of a release: the SHA-256 of every file published in its version folder, in
// the format of sha256sum ("<64 hex>  <path relative to the version folder>" per line; "*" for
// the second space, a leading "\" for an escaped name and "#" comment lines as sha256sum -c
// takes them). The product ini names the list's own SHA-256 under iniKey, so the ini's
// signature covers every file the list names.
class Sha256Sums
{
public:
    // Far above the list of any real release: what a mirror may send before it is cut off.
    static constexpr qint64 maxFileSize = 16 * 1024 * 1024;
    static constexpr const char* iniKey = "sha256sums";
    static constexpr const char* suffix = ".sha256";

    enum Result { Ok, Unreadable, TooLarge, Mismatch, Malformed };

    // The value of iniKey in the product ini at iniPath (outside every section); empty when
    // the ini has none.
    static QString digestInIni(const QString& iniPath);
    // 64 hexadecimal digits, either case.
    static bool isDigest(const QString& text);

    // Reads the list at path (at most maxFileSize bytes), requires its SHA-256 to be
    // expectedSha256 and parses it. On any result but Ok the list is left empty.
    Result load(const QString& path, const QString& expectedSha256);
    // Reads the file at path (at most maxFileSize bytes) into text when its SHA-256 is
    // expectedSha256: how every list the product ini pins is read. Never Malformed.
    static Result readPinned(const QString& path, const QString& expectedSha256, QByteArray& text);
    // False, and the list left empty, on the first malformed line or a path listed twice with
    // two digests.
    bool parse(const QByteArray& text);
    // The lower-case hex SHA-256 listed for path; empty when the list does not name it.
    QString digest(const QString& path) const;
    bool isEmpty() const { return digests.isEmpty(); }

private:
    // Adds the entry of one line (a comment adds none); false when the line is malformed.
    bool parseLine(QByteArray line);

    QHash<QString, QString> digests;
};
