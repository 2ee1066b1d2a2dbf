#pragma once

#include <QString>

// One file of the plan to add or replace in the installation. fileName is the name of the
// downloaded file in the session directory; a non-empty unzippedFileName marks it as gzip-packed
// and names the install-relative path of the unpacked file. All derived names are pure string
// work relative to the installation root; none touches the file system.
struct FileReplaceSpecification
{
    QString section;
    QString fileName;
    // The downloaded file's MD5 and size, as listed; the MD5 may be empty (a signed file).
    QString md5;
    quint64 size = 0;
    QString unzippedMd5;
    quint64 unzippedSize = 0;
    QString unzippedFileName;

    bool hasUnzip() const;
    // The install-relative path without the one-level-up adjustment of the "bin_macosx" section.
    QString pureDestFilePath() const;
    // The install-relative destination; prefix goes in front of the last path component.
    QString destFileName(const QString& prefix) const;
    // Where the installed copy is kept aside while it is being replaced.
    QString oldDestFileName() const;
};
