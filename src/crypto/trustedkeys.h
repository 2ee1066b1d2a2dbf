#pragma once

#include "ed25519key.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The Ed25519 public keys one role trusts. The release role signs product inis (kept offline);
// the versions role signs the update server's version list (may sit on the host that refreshes
// it). Each role trusts a short list, the active key and a standby one, so that a key can be
// replaced by a release that trusts its successor before anything is signed with it.
class TrustedKeys
{
public:
    enum Role { Release, Versions };

    // Keys from PEM texts; a text that is no Ed25519 key is left out.
    explicit TrustedKeys(const QList<QByteArray>& pems);

    // The keys compiled into the program for the role.
    static const TrustedKeys& builtIn(Role role);

    // The trusted key with this id, or a null key.
    Ed25519Key find(const QString& keyId) const;
    bool isEmpty() const { return m_keys.isEmpty(); }

private:
    // Generated at build time from the key files the build names.
    static QList<QByteArray> builtInPems(Role role);

    QList<Ed25519Key> m_keys;
};
