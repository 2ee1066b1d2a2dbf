#pragma once

#include "ownedrsakey.h"

#include <QString>

// Signs files with a private release key. The signature of FILE goes to FILE.sig: the raw
// RSA-PSS signature (SHA-1, salt 8) of the whole file, replaced atomically. Files are read in
// blocks, so their size does not matter.
class ReleaseSigner
{
public:
    // Loads a 2048-byte private key file; false with errorString on failure.
    bool loadKey(const QString& privateKeyPath);
    bool signFile(const QString& path);
    QString errorString() const { return error; }

private:
    OwnedRsaKey key;
    QString error;
};
