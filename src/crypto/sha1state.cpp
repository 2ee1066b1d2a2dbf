#include "sha1state.h"

#include "crypt.h"

Sha1_state::Sha1_state()
{
    sha1_init(&state);
}

void Sha1_state::process(const unsigned char* in, unsigned long length)
{
    check_err("sha1_process", sha1_process(&state, in, length));
}

void Sha1_state::done(unsigned char* out)
{
    check_err("sha1_done", sha1_done(&state, out));
}
