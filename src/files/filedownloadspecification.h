#pragma once

#include <QString>

// One file of the plan to fetch from a mirror: remote path section + "/" + fileName, stored
// in the session directory as fileName. An empty md5 selects the signature check. A non-empty
// sha256 (from the release's file list) must match the downloaded bytes as well. A file whose
// installed copy is the base of a published delta names that delta: it is tried first, and the
// file it makes passes the same checks.
struct FileDownloadSpecification
{
    QString section;
    QString fileName;
    QString md5;
    quint64 size = 0;
    QString sha256;
    // The delta's path on the mirror; empty when the file has none.
    QString deltaRemotePath;
    quint64 deltaSize = 0;
    QString deltaSha256;
    // The installed file the delta applies to, and the SHA-256 it must have.
    QString deltaBasePath;
    QString deltaBaseSha256;

    bool hasDelta() const { return !deltaRemotePath.isEmpty(); }
    // Where the delta is kept in the session directory, and where the file it makes is written
    // before it takes the download's place; both relative to the session directory.
    QString deltaFileName() const { return fileName + QStringLiteral(".delta"); }
    QString deltaResultFileName() const { return fileName + QStringLiteral(".delta-result"); }
};
