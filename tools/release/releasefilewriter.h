#pragma once

#include "fileblockreader.h"

#include <QByteArray>
#include <QString>

// Writes one file of a release into the staging directory, reading the source in blocks and
// computing its MD5 (lower-case hex) on the way, so that no file is read twice or held whole.
class ReleaseFileWriter
{
public:
    // A plain copy; sourceMd5 is then also the MD5 of dest.
    bool copy(const QString& source, const QString& dest, QByteArray& sourceMd5);
    // A gzip file (zlib, best compression) that gunzips to source.
    bool pack(const QString& source, const QString& dest, QByteArray& sourceMd5);
    QString errorString() const { return error; }

private:
    bool readFailed(const QString& source, FileBlockReader::Result result);

    QString error;
};
