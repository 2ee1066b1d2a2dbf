#include "crypt.h"

#include "sha1state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

int hash_idx = -1;
int prng_idx = -1;

namespace {

constexpr unsigned long RSA_KEY_BYTES = 128;
constexpr long RSA_EXPONENT = 65537;
constexpr unsigned long READ_CHUNK = 2048;

std::once_flag initFlag;

void initOnce()
{
    if (register_prng(&sprng_desc) == -1)
        throw crypt_exception("Error registering sprng");
    ltc_mp = ltm_desc;
    if (register_hash(&sha1_desc) == -1)
        throw crypt_exception("Error registering sha1");
    hash_idx = find_hash("sha1");
    prng_idx = find_prng("sprng");
}

// The library aborts the process on a missing math back end; a forgotten crypt_init() must
// be an ordinary error instead.
void requireInit()
{
    if (ltc_mp.name == nullptr || hash_idx < 0 || prng_idx < 0)
        throw crypt_exception("crypt_init() has not been called");
}

void requireKey(const Rsa_key* key)
{
    if (key == nullptr || key->N == nullptr)
        throw crypt_exception("no RSA key loaded");
}

struct FileCloser
{
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

FilePtr openFile(const char* path, const char* mode, const char* failureText)
{
    FilePtr f(std::fopen(path, mode));
    if (!f)
        throw crypt_exception(std::string(failureText) + path);
    return f;
}

} // namespace

void check_err(const char* label, int error)
{
    if (error == CRYPT_OK)
        return;
    throw crypt_exception(std::string(label) + ": " + error_to_string(error));
}

void crypt_init()
{
    // call_once lets a failed first attempt be retried and keeps a second call from rewriting
    // the tables while checks on worker threads read them.
    std::call_once(initFlag, initOnce);
}

void hash_msg(const unsigned char* in, unsigned long length, unsigned char* out)
{
    Sha1_state sha1;
    sha1.process(in, length);
    sha1.done(out);
}

bool verify_hash(Rsa_key* key, const unsigned char* hash, unsigned long hashLength,
    const unsigned char* signature, unsigned long signatureLength)
{
    requireInit();
    requireKey(key);
    if (hash == nullptr || signature == nullptr)
        throw crypt_exception("rsa_verify_hash: no input");
    int stat = 0;
    check_err("rsa_verify_hash",
        rsa_verify_hash_ex(signature, signatureLength, hash, hashLength, LTC_PKCS_1_PSS, hash_idx,
            SALT_LENGTH, &stat, key));
    return stat == 1;
}

bool verify_msg(Rsa_key* key, const unsigned char* message, unsigned long messageLength,
    const unsigned char* signature, unsigned long signatureLength)
{
    unsigned char hash[HASH_SIZE];
    hash_msg(message, messageLength, hash);
    return verify_hash(key, hash, HASH_SIZE, signature, signatureLength);
}

void free_key(Rsa_key* key)
{
    if (key->N == nullptr)
        return;
    rsa_free(key);
    *key = Rsa_key {};
}

void load_key(Rsa_key* key, const unsigned char* in, unsigned long length)
{
    requireInit();
    free_key(key);
    // The library aborts the process on empty input instead of returning an error.
    if (in == nullptr || length == 0)
        throw crypt_exception("rsa_import: empty key");
    const int error = rsa_import(in, length, key);
    if (error != CRYPT_OK) {
        // The library frees what it allocated but leaves the pointers behind.
        *key = Rsa_key {};
        check_err("rsa_import", error);
    }
}

void load_key(Rsa_key* key, const char* path)
{
    unsigned char buffer[KEY_FILE_SIZE] = {};
    FilePtr f = openFile(path, "rb", "Cannot open file for reading: ");
    std::fread(buffer, 1, KEY_FILE_SIZE, f.get());
    f.reset();
    load_key(key, buffer, KEY_FILE_SIZE);
}

void sign_hash(Rsa_key* key, const unsigned char* hash, unsigned long hashLength,
    unsigned char* out, unsigned long* outLength)
{
    requireInit();
    requireKey(key);
    check_err("rsa_sign_hash",
        rsa_sign_hash_ex(hash, hashLength, out, outLength, LTC_PKCS_1_PSS, nullptr, prng_idx,
            hash_idx, SALT_LENGTH, key));
}

void sign_msg(Rsa_key* key, const unsigned char* message, unsigned long length, unsigned char* out,
    unsigned long* outLength)
{
    unsigned char hash[HASH_SIZE];
    hash_msg(message, length, hash);
    sign_hash(key, hash, HASH_SIZE, out, outLength);
}

void create_key(Rsa_key* key)
{
    requireInit();
    free_key(key);
    const int error = rsa_make_key(nullptr, prng_idx, RSA_KEY_BYTES, RSA_EXPONENT, key);
    if (error != CRYPT_OK) {
        *key = Rsa_key {};
        check_err("rsa_make_key", error);
    }
}

void save_key(Rsa_key* key, int type, const char* path)
{
    requireKey(key);
    unsigned char buffer[KEY_FILE_SIZE] = {};
    unsigned long length = KEY_FILE_SIZE;
    check_err("rsa_export", rsa_export(buffer, &length, type, key));
    write_file(path, buffer, KEY_FILE_SIZE);
}

void read_file(const char* path, unsigned char** buffer, unsigned long* length)
{
    FilePtr f = openFile(path, "rb", "Cannot open file for reading: ");
    unsigned char* data = nullptr;
    unsigned long total = 0;
    for (;;) {
        auto* grown = static_cast<unsigned char*>(std::realloc(data, total + READ_CHUNK));
        if (grown == nullptr) {
            std::free(data);
            throw crypt_exception(std::string("Out of memory reading file: ") + path);
        }
        data = grown;
        const size_t n = std::fread(data + total, 1, READ_CHUNK, f.get());
        total += n;
        if (n < READ_CHUNK)
            break;
    }
    if (std::ferror(f.get())) {
        std::free(data);
        throw crypt_exception(std::string("Cannot read file: ") + path);
    }
    *buffer = data;
    *length = total;
}

void write_file(const char* path, const unsigned char* data, unsigned long length)
{
    FilePtr f = openFile(path, "wb", "Cannot open file for writing: ");
    // A key or signature cut short by a full disk must not pass for a complete one.
    const bool written = length == 0 || std::fwrite(data, 1, length, f.get()) == length;
    const bool closed = std::fclose(f.release()) == 0;
    if (!written || !closed)
        throw crypt_exception(std::string("Cannot write file: ") + path);
}
