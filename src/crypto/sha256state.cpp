#include "sha256state.h"

#include "cryptexception.h"

#include <openssl/evp.h>

Sha256State::Sha256State()
    : context(EVP_MD_CTX_new(), EVP_MD_CTX_free)
{
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw crypt_exception("SHA-256: cannot initialise the digest");
}

void Sha256State::process(const unsigned char* in, unsigned long length)
{
    if (EVP_DigestUpdate(context.get(), in, length) != 1)
        throw crypt_exception("SHA-256: cannot process data");
}

void Sha256State::done(unsigned char* out)
{
    if (EVP_DigestFinal_ex(context.get(), out, nullptr) != 1)
        throw crypt_exception("SHA-256: cannot finish the digest");
}
