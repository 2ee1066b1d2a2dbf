#pragma once

#include "fileblockreader.h"

#include <QByteArray>
#include <QString>

// Digests of whole files, read in blocks (FileBlockReader) so that memory stays constant.
// Safe on any thread.
class FileDigest
{
public:
    // Lower-case hexadecimal MD5 into hex.
    static FileBlockReader::Result md5(const QString& path, QByteArray& hex);
    // The 20-byte SHA-1 into digest. Throws crypt_exception only on a library failure.
    static FileBlockReader::Result sha1(const QString& path, unsigned char* digest);
};
