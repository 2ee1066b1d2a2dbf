#pragma once

#include "fileblockreader.h"

#include <QByteArray>
#include <QString>

// Digests of whole files, read in blocks (FileBlockReader) so that memory stays constant. Given
// sha256Hex, a function also computes the file's lower-case hexadecimal SHA-256 in the same read
// pass, so a second digest costs no second read. Safe on any thread. Throws crypt_exception
// only on a library failure.
class FileDigest
{
public:
    // Lower-case hexadecimal MD5 into hex.
    static FileBlockReader::Result md5(
        const QString& path, QByteArray& hex, QByteArray* sha256Hex = nullptr);
    // The 20-byte SHA-1 into digest.
    static FileBlockReader::Result sha1(
        const QString& path, unsigned char* digest, QByteArray* sha256Hex = nullptr);
    // Lower-case hexadecimal SHA-256 into hex.
    static FileBlockReader::Result sha256(const QString& path, QByteArray& hex);
    // Lower-case hexadecimal SHA-256 of data held in memory.
    static QByteArray sha256(const QByteArray& data);
};
