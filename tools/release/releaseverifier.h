#pragma once

#include "ownedrsakey.h"

#include <QString>

// Checks FILE.sig against FILE with a given public key file, as the updater does with its
// built-in key. A private key is refused.
class ReleaseVerifier
{
public:
    bool loadKey(const QString& keyPath);
    // False with errorString when FILE or FILE.sig cannot be read or the signature is invalid.
    bool verifyFile(const QString& path);
    QString errorString() const { return error; }

private:
    OwnedRsaKey key;
    QString error;
};
