#pragma once

#include <QByteArray>

class Ed25519Key;
class TrustedKeys;

// The Ed25519 signatures published beside a signed file as FILE.sig2, one line per signing key:
// "ed25519 <key id> <base64 of the 64-byte signature over the file's exact bytes>\n". A release
// signed by the active and the standby key carries both lines, so that updaters trusting
// either accept it while a key is being replaced. Readers skip lines they do not understand
// (another algorithm, a key they do not know, a damaged line), which leaves room for more.
class Ed25519SignatureFile
{
public:
    // Far above the few lines a release carries; a mirror that sends more is faulty.
    static constexpr qint64 maxSize = 64 * 1024;

    // The line of one private key; empty when the key cannot sign.
    static QByteArray line(const Ed25519Key& key, const QByteArray& message);
    // True when at least one line is by a key of trusted and verifies over message.
    static bool verifies(
        const QByteArray& text, const QByteArray& message, const TrustedKeys& trusted);
};
