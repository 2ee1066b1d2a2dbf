#pragma once

#include "asyncfunc.h"
#include "fileblockreader.h"

#include <QByteArray>
#include <QString>

// Checks one file: by its MD5 when expectedMd5 is given (hex, any case, not trimmed), otherwise
// by the RSA-PSS signature in signaturePath (filePath + ".sig" unless given) against the
// built-in PUBLIC_KEY. Given expectedSha256 (hex, any case), the file's SHA-256 must match as
// well; it is computed in the same read pass. Files are read
// in blocks, so memory stays small whatever their size. Every failure is a false result, at most
// with a message; no exception leaves run(). crypt_init() must have run before the first check.
// Runs on a worker thread as an ASyncFunc, or synchronously through run().
class CheckSigFunc : public ASyncFunc
{
    Q_OBJECT
public:
    CheckSigFunc(const QString& filePath, const QString& expectedMd5,
        const QString& signaturePath = QString(), const QString& expectedSha256 = QString());

    QString filePath;
    QString expectedMd5;
    QString signaturePath;
    QString expectedSha256;

    bool run() override;
    bool checkMD5();
    bool checkRSA();
    // Reads a whole file of at most maxWholeFileSize bytes (a signature file) into data.
    bool readFile(QString path, QByteArray& data);

    static constexpr qint64 maxWholeFileSize = 64 * 1024;

private:
    // Logs a failed read of path; true when result is Ok.
    bool readSucceeded(const QString& path, FileBlockReader::Result result);
    // Null when no SHA-256 is expected, so the digest is not computed at all.
    QByteArray* sha256Wanted(QByteArray& hex) const;
    // True when no SHA-256 is expected or hex is the expected one; logs a mismatch.
    bool sha256Matches(const QByteArray& hex);
};
