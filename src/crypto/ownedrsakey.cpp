#include "ownedrsakey.h"

OwnedRsaKey::~OwnedRsaKey()
{
    free_key(&key);
}
