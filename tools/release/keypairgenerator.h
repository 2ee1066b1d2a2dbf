#pragma once

#include <QString>

// Creates a new 1024-bit release key pair as two 2048-byte key files, DIR/private.key (readable
// by its owner only) and DIR/public.key. Never overwrites: when either file exists nothing is
// written, and a failure part-way removes what was created.
class KeyPairGenerator
{
public:
    static QString privateKeyName() { return QStringLiteral("private.key"); }
    static QString publicKeyName() { return QStringLiteral("public.key"); }

    // False with errorString set on failure.
    bool generate(const QString& dir);
    QString errorString() const { return error; }

private:
    QString error;
};
