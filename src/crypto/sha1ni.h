#pragma once

#include <cstddef>
#include <cstdint>

// SHA-1 block compression with the x86 SHA extensions, several times faster than portable C.
// sha1_ni_available() tells whether this CPU has them; on other CPUs and architectures it is
// false and sha1_ni_compress must not be called.
bool sha1_ni_available();
// Runs `blocks` 64-byte blocks of data through the five state words.
void sha1_ni_compress(uint32_t state[5], const unsigned char* data, size_t blocks);
