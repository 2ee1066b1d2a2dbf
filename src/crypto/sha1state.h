#pragma once

#include <tomcrypt.h>

// SHA-1 over data that arrives in pieces, so that a file of any size is hashed with one block
// of memory. Uses the CPU's SHA instructions where there are any, the library's code elsewhere;
// the digest is the same. Needs no crypt_init(). One object per digest; not shared between
// threads.
class Sha1_state
{
public:
    static constexpr unsigned long digestSize = 20;

    Sha1_state();

    void process(const unsigned char* in, unsigned long length);
    // Writes digestSize bytes to out; the object is spent afterwards.
    void done(unsigned char* out);

private:
    hash_state state;
};
