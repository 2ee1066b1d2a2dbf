#pragma once

#include <memory>

struct evp_md_ctx_st;

// SHA-256 over data that arrives in pieces, through OpenSSL's EVP (which uses the CPU's SHA
// instructions where there are any). Throws crypt_exception only on a library failure. One
// object per digest; not shared between threads.
class Sha256State
{
public:
    static constexpr unsigned long digestSize = 32;

    Sha256State();

    void process(const unsigned char* in, unsigned long length);
    // Writes digestSize bytes to out; the object is spent afterwards.
    void done(unsigned char* out);

private:
    std::unique_ptr<evp_md_ctx_st, void (*)(evp_md_ctx_st*)> context;
};
