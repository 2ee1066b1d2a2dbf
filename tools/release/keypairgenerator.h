#pragma once

#include <QString>

// Creates a new release key pair: a 1024-bit RSA pair as two 2048-byte key files,
// DIR/private.key (readable by its owner only) and DIR/public.key, or an Ed25519 pair as PEM
// files DIR/ed25519-private.pem (owner only) and DIR/ed25519-public.pem. Never overwrites: when
// either file exists nothing is written, and a failure part-way removes what was created.
class KeyPairGenerator
{
public:
    static QString privateKeyName() { return QStringLiteral("private.key"); }
    static QString publicKeyName() { return QStringLiteral("public.key"); }
    static QString ed25519PrivateKeyName() { return QStringLiteral("ed25519-private.pem"); }
    static QString ed25519PublicKeyName() { return QStringLiteral("ed25519-public.pem"); }

    // False with errorString set on failure.
    bool generate(const QString& dir);
    // keyId receives the new key's id.
    bool generateEd25519(const QString& dir, QString& keyId);
    QString errorString() const { return error; }

private:
    // Creates both files empty, the private one readable by its owner only.
    bool createPair(const QString& privatePath, const QString& publicPath);

    QString error;
};
