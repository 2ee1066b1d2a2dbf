#include "trustedkeys.h"

TrustedKeys::TrustedKeys(const QList<QByteArray>& pems)
{
    for (const QByteArray& pem : pems) {
        const Ed25519Key key = Ed25519Key::fromPem(pem);
        if (!key.isNull() && !key.isPrivate())
            m_keys.append(key);
    }
}

const TrustedKeys& TrustedKeys::builtIn(Role role)
{
    static const TrustedKeys release(builtInPems(Release));
    static const TrustedKeys versions(builtInPems(Versions));
    return role == Release ? release : versions;
}

Ed25519Key TrustedKeys::find(const QString& keyId) const
{
    for (const Ed25519Key& key : m_keys) {
        if (key.keyId() == keyId)
            return key;
    }
    return Ed25519Key();
}
