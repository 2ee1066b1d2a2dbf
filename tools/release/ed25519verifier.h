#pragma once

#include "ed25519key.h"

#include <QString>

// Checks FILE.sig2 against FILE with one Ed25519 public key, as the updater does with its
// built-in release keys: the file passes when a line by this key verifies. A private key is
// refused.
class Ed25519Verifier
{
public:
    bool loadKey(const QString& publicKeyPath);
    // False with errorString when FILE or FILE.sig2 cannot be read or no line of the key
    // verifies.
    bool verifyFile(const QString& path);
    QString errorString() const { return error; }

private:
    Ed25519Key key;
    QString error;
};
