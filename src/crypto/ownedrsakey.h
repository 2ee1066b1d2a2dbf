#pragma once

#include "crypt.h"

// Owns one Rsa_key: empty at construction, freed (free_key) when destroyed, so a key loaded
// per check is never leaked, not even when an exception leaves the check. Not copyable: the
// structure points to numbers it owns.
class OwnedRsaKey
{
public:
    OwnedRsaKey() = default;
    ~OwnedRsaKey();
    OwnedRsaKey(const OwnedRsaKey&) = delete;
    OwnedRsaKey& operator=(const OwnedRsaKey&) = delete;

    Rsa_key* get() { return &key; }
    bool isPrivate() const { return key.N != nullptr && key.type == PK_PRIVATE; }

private:
    Rsa_key key {};
};
