#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

typedef struct evp_pkey_st EVP_PKEY;

// An Ed25519 key through OpenSSL's libcrypto: the public half verifies, a private key also
// signs. Keys travel as PEM (SubjectPublicKeyInfo, PKCS #8), the form openssl itself reads and
// writes. A key is known by its id: the first 8 bytes of SHA-256 over the raw 32-byte public
// key, in lower-case hex. A null key (failed import) verifies nothing. Safe to share between
// threads once built.
class Ed25519Key
{
public:
    static constexpr int SignatureSize = 64;
    static constexpr int RawPublicKeySize = 32;

    Ed25519Key() = default;

    // Either PEM form; a private key keeps its public half too. Null on anything else,
    // another key type included.
    static Ed25519Key fromPem(const QByteArray& pem);
    // A new private key from the system's random source.
    static Ed25519Key generate();

    bool isNull() const { return !m_key; }
    bool isPrivate() const { return m_private; }
    QByteArray rawPublicKey() const;
    QString keyId() const;
    QByteArray publicPem() const;
    QByteArray privatePem() const;

    // True only for a valid signature of exactly these bytes.
    bool verify(const QByteArray& message, const QByteArray& signature) const;
    // The 64-byte signature; empty for a public key.
    QByteArray sign(const QByteArray& message) const;

private:
    std::shared_ptr<EVP_PKEY> m_key;
    bool m_private = false;
};
