#pragma once

#include "ed25519key.h"

#include <QList>
#include <QString>
#include <QStringList>

// Signs a file with one or more Ed25519 private keys (the active key and a standby one):
// FILE.sig2 receives one line per key, in the order the keys were given.
class Ed25519Signer
{
public:
    // Loads private PEM keys; false with errorString on failure (a public key, another key
    // type, the same key twice).
    bool loadKeys(const QStringList& privateKeyPaths);
    bool isEmpty() const { return keys.isEmpty(); }
    // Writes FILE.sig2 over the file's exact bytes; an existing one is replaced atomically.
    bool signFile(const QString& path);
    QString errorString() const { return error; }

private:
    QList<Ed25519Key> keys;
    QString error;
};
