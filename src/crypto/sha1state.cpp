#include "sha1state.h"

#include "crypt.h"
#include "sha1ni.h"

#include <algorithm>
#include <cstring>

static_assert(sizeof(ulong32) == sizeof(uint32_t), "SHA-1 state words are 32 bits");

namespace {

const bool accelerated = sha1_ni_available();

} // namespace

Sha1_state::Sha1_state()
{
    sha1_init(&state);
}

void Sha1_state::process(const unsigned char* in, unsigned long length)
{
    if (!accelerated) {
        check_err("sha1_process", sha1_process(&state, in, length));
        return;
    }
    // The same bookkeeping as the library's sha1_process, with the faster block function;
    // sha1_done then pads and finishes from the library's own state fields.
    sha1_state& md = state.sha1;
    while (length > 0) {
        if (md.curlen == 0 && length >= 64) {
            const unsigned long bytes = length & ~63UL;
            sha1_ni_compress(reinterpret_cast<uint32_t*>(md.state), in, bytes / 64);
            md.length += ulong64(bytes) * 8;
            in += bytes;
            length -= bytes;
            continue;
        }
        const unsigned long n = std::min<unsigned long>(64 - md.curlen, length);
        std::memcpy(md.buf + md.curlen, in, n);
        md.curlen += ulong32(n);
        in += n;
        length -= n;
        if (md.curlen == 64) {
            sha1_ni_compress(reinterpret_cast<uint32_t*>(md.state), md.buf, 1);
            md.length += 512;
            md.curlen = 0;
        }
    }
}

void Sha1_state::done(unsigned char* out)
{
    check_err("sha1_done", sha1_done(&state, out));
}
