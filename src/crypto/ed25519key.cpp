#include "ed25519key.h"

#include <QCryptographicHash>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {
std::shared_ptr<EVP_PKEY> owned(EVP_PKEY* key)
{
    return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

QByteArray bioText(BIO* bio)
{
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return QByteArray(data, int(length));
}

// One-shot Ed25519 needs a fresh digest context per message and no digest of its own.
std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> digestContext()
{
    return { EVP_MD_CTX_new(), EVP_MD_CTX_free };
}
}

Ed25519Key Ed25519Key::fromPem(const QByteArray& pem)
{
    Ed25519Key key;
    std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new_mem_buf(pem.constData(), pem.size()), BIO_free);
    if (!bio)
        return key;
    EVP_PKEY* loaded = nullptr;
    if (pem.contains("PRIVATE KEY")) {
        loaded = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
        key.m_private = loaded != nullptr;
    } else {
        loaded = PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr);
    }
    if (loaded && EVP_PKEY_get_id(loaded) != EVP_PKEY_ED25519) {
        EVP_PKEY_free(loaded);
        return Ed25519Key();
    }
    if (loaded)
        key.m_key = owned(loaded);
    return key;
}

Ed25519Key Ed25519Key::generate()
{
    Ed25519Key key;
    EVP_PKEY* made = nullptr;
    std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
    if (context && EVP_PKEY_keygen_init(context.get()) == 1
        && EVP_PKEY_keygen(context.get(), &made) == 1) {
        key.m_key = owned(made);
        key.m_private = true;
    }
    return key;
}

QByteArray Ed25519Key::rawPublicKey() const
{
    if (!m_key)
        return QByteArray();
    QByteArray raw(RawPublicKeySize, '\0');
    size_t length = size_t(raw.size());
    if (EVP_PKEY_get_raw_public_key(
            m_key.get(), reinterpret_cast<unsigned char*>(raw.data()), &length)
            != 1
        || length != size_t(RawPublicKeySize))
        return QByteArray();
    return raw;
}

QString Ed25519Key::keyId() const
{
    const QByteArray raw = rawPublicKey();
    if (raw.isEmpty())
        return QString();
    return QString::fromLatin1(
        QCryptographicHash::hash(raw, QCryptographicHash::Sha256).left(8).toHex());
}

QByteArray Ed25519Key::publicPem() const
{
    std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!m_key || !bio || PEM_write_bio_PUBKEY(bio.get(), m_key.get()) != 1)
        return QByteArray();
    return bioText(bio.get());
}

QByteArray Ed25519Key::privatePem() const
{
    std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!m_private || !bio
        || PEM_write_bio_PrivateKey(bio.get(), m_key.get(), nullptr, nullptr, 0, nullptr, nullptr)
            != 1)
        return QByteArray();
    return bioText(bio.get());
}

bool Ed25519Key::verify(const QByteArray& message, const QByteArray& signature) const
{
    if (!m_key || signature.size() != SignatureSize)
        return false;
    auto context = digestContext();
    return context
        && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, m_key.get()) == 1
        && EVP_DigestVerify(context.get(),
               reinterpret_cast<const unsigned char*>(signature.constData()),
               size_t(signature.size()),
               reinterpret_cast<const unsigned char*>(message.constData()), size_t(message.size()))
        == 1;
}

QByteArray Ed25519Key::sign(const QByteArray& message) const
{
    if (!m_private)
        return QByteArray();
    auto context = digestContext();
    QByteArray signature(SignatureSize, '\0');
    size_t length = size_t(signature.size());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()),
               &length, reinterpret_cast<const unsigned char*>(message.constData()),
               size_t(message.size()))
            != 1
        || length != size_t(SignatureSize))
        return QByteArray();
    return signature;
}
