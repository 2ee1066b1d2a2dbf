#pragma once

// The cryptography wrapper: free functions around libtomcrypt with libtommath as its number
// back end. Every library failure is thrown as crypt_exception. Signatures are RSASSA-PSS with
// SHA-1, MGF1-SHA-1 and an 8-byte salt over the whole message; keys are DER PKCS #1.
//
// Threads: crypt_init() fills the library tables once; afterwards hashing, key import and
// verification may run on several threads at once, each with its own Rsa_key.

#include "cryptexception.h"

#include <tomcrypt.h>

// Rsa_key is the library's own RSA key structure (the tag of its rsa_key), handed to it as it
// is. An empty key is all zeros; the functions below that fill a key free what it held first.
// OwnedRsaKey frees a key when it goes out of scope.

// Table indices of "sha1" and "sprng", set by crypt_init().
extern int hash_idx;
extern int prng_idx;

constexpr unsigned long KEY_FILE_SIZE = 2048;
constexpr unsigned long HASH_SIZE = 20;
constexpr unsigned long SALT_LENGTH = 8;

// Registers the system random source and SHA-1 and selects libtommath. Safe to call more than
// once and from several threads: only the first successful call changes the tables.
void crypt_init();

// SHA-1 of the buffer, HASH_SIZE bytes to out.
void hash_msg(const unsigned char* in, unsigned long length, unsigned char* out);

// True when signature is a valid signature of message (or of the SHA-1 digest hash).
// A signature of the wrong length throws, like every other library error.
bool verify_msg(Rsa_key* key, const unsigned char* message, unsigned long messageLength,
    const unsigned char* signature, unsigned long signatureLength);
bool verify_hash(Rsa_key* key, const unsigned char* hash, unsigned long hashLength,
    const unsigned char* signature, unsigned long signatureLength);

// Frees the numbers of a loaded key and makes it empty; an empty key is left as it is.
void free_key(Rsa_key* key);

// Imports a DER key; only the leading DER structure of in is read, trailing bytes are ignored.
void load_key(Rsa_key* key, const unsigned char* in, unsigned long length);
// Imports the key at the start of a key file (at most KEY_FILE_SIZE bytes are read).
void load_key(Rsa_key* key, const char* path);

// The signing side, used by the release tool only. *outLength holds the size of out on entry
// and the signature's length on return (128 bytes for a 1024-bit key).
void sign_msg(Rsa_key* key, const unsigned char* message, unsigned long length, unsigned char* out,
    unsigned long* outLength);
void sign_hash(Rsa_key* key, const unsigned char* hash, unsigned long hashLength,
    unsigned char* out, unsigned long* outLength);
// A new 1024-bit key with public exponent 65537 from the system random source.
void create_key(Rsa_key* key);
// Writes a key file of exactly KEY_FILE_SIZE bytes: the DER export (type PK_PUBLIC or
// PK_PRIVATE), then zeros.
void save_key(Rsa_key* key, int type, const char* path);

// Reads a whole file; *buffer is allocated with malloc() and belongs to the caller (free()).
void read_file(const char* path, unsigned char** buffer, unsigned long* length);
// Writes length bytes to path, replacing what was there.
void write_file(const char* path, const unsigned char* data, unsigned long length);

// Throws label + ": " + the library's text unless error is CRYPT_OK.
void check_err(const char* label, int error);
