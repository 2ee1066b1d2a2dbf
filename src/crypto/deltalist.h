#pragma once

#include "sha256sums.h"

#include <QByteArray>
#include <QHash>
#include <QString>

// The delta list of a release: for a file that changed little since the version before, a
// zstd delta that turns the previous version's file into this one ("patch from": the previous
// file is the reference prefix). One line per delta:
//
//   <base SHA-256> <delta size> <delta SHA-256> <result SHA-256> <path>
//
// hex digests, the size in decimal bytes, single spaces; the path last, so that spaces in it
// survive, is the file's "<section>/<key>" as the product ini and the file list name it. "#"
// starts a comment line. The delta itself is published at "deltas/<path>.zst" in the version
// folder. The product ini names the list's own SHA-256 under iniKey. The file sections of the
// ini are unchanged, so an updater that knows nothing of deltas downloads whole files; one that
// does treats a list it cannot fetch, verify or parse as no deltas at all.
class DeltaList
{
public:
    struct Delta
    {
        QString baseSha256;
        qint64 size = 0;
        QString sha256;
        QString resultSha256;
    };

    static constexpr qint64 maxFileSize = Sha256Sums::maxFileSize;
    static constexpr const char* iniKey = "deltas";
    static constexpr const char* suffix = ".deltas";

    // The value of iniKey in the product ini at iniPath; empty when the ini has none.
    static QString digestInIni(const QString& iniPath);
    // Where the delta of path is published, relative to the version folder.
    static QString remotePath(const QString& path);
    // The comment that opens every list, saying its format.
    static QByteArray header();
    // One line of the list.
    static QByteArray line(const QString& path, const Delta& delta);

    // Reads the list at path, requires its SHA-256 to be expectedSha256 and parses it. On any
    // result but Ok the list is left empty.
    Sha256Sums::Result load(const QString& path, const QString& expectedSha256);
    // False, and the list left empty, on the first malformed line or a path listed twice.
    bool parse(const QByteArray& text);
    // Null when the list has no delta for path.
    const Delta* find(const QString& path) const;
    bool isEmpty() const { return deltas.isEmpty(); }

private:
    bool parseLine(QByteArray line);

    QHash<QString, Delta> deltas;
};
