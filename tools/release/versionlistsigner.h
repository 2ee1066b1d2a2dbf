#pragma once

#include "ed25519key.h"

#include <QByteArray>
#include <QString>

// Signs the update server's version list with a private Ed25519 versions key: the three
// channel entries as given, followed by the signature entry (see VersionListSignature). The
// result is the datagram the update server sends, checked to fit the updater's 511 bytes.
class VersionListSigner
{
public:
    static constexpr int ReplyLimit = 511;

    // Loads a PEM private key; false with errorString on failure.
    bool loadKey(const QString& privateKeyPath);
    // list: "entry,entry,entry", each entry empty, "number" or "number#name". False with
    // errorString for a list the updater could not use.
    bool sign(const QString& list, qint64 serial, qint64 expires, QByteArray* reply);
    QString errorString() const { return error; }

private:
    bool checkEntry(const QString& entry);

    Ed25519Key key;
    QString error;
};
