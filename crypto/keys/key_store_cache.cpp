#include "crypto/keys/key_store_cache.h"

#include <array>
#include <cstring>
#include <mutex>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace qs {
namespace {

struct Salt {
    bool drawn = false;
    unsigned char bytes[32] = {};
};

Salt &process_salt() {
    static Salt salt;
    return salt;
}

struct Kept {
    bool allowed = false;      // between init and shutdown
    bool holds = false;
    CacheKey key{};
    KeyMaterial keys;
};

std::mutex &cache_lock() {
    static std::mutex lock;
    return lock;
}

Kept &kept() {
    static Kept cache;
    return cache;
}

// The store's bytes and its password.
bool cache_key(const std::string &store, const char *password, CacheKey &key) {
    return salted_cache_key({store, password ? password : ""}, key);
}

}  // namespace

bool salted_cache_key(std::initializer_list<std::string_view> parts, CacheKey &key) {
    Salt &salt = process_salt();
    if (!salt.drawn) {
        if (RAND_bytes(salt.bytes, sizeof salt.bytes) != 1) return false;
        salt.drawn = true;
    }
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(ctx.get(), salt.bytes, sizeof salt.bytes) != 1)
        return false;
    for (std::string_view part : parts) {
        const unsigned long long length = part.size();
        if (EVP_DigestUpdate(ctx.get(), &length, sizeof length) != 1 ||
            EVP_DigestUpdate(ctx.get(), part.data(), part.size()) != 1)
            return false;
    }
    unsigned int size = 0;
    return EVP_DigestFinal_ex(ctx.get(), key.data(), &size) == 1 && size == key.size();
}

namespace {

void drop(Kept &cache) {
    cache.keys = KeyMaterial{};
    OPENSSL_cleanse(cache.key.data(), cache.key.size());
    cache.holds = false;
}

// New references to the same key material.
bool share_keys(const KeyMaterial &from, KeyMaterial &to) {
    KeyMaterial shared;
    if (from.key) {
        if (EVP_PKEY_up_ref(from.key.get()) != 1) return false;
        shared.key.reset(from.key.get());
    }
    if (from.cert) {
        if (X509_up_ref(from.cert.get()) != 1) return false;
        shared.cert.reset(from.cert.get());
    }
    shared.chain.reset(from.chain ? X509_chain_up_ref(from.chain.get()) : sk_X509_new_null());
    if (!shared.chain) return false;
    shared.remote = from.remote;
    to = std::move(shared);
    return true;
}

}  // namespace

void store_cache_open() {
    std::lock_guard<std::mutex> hold(cache_lock());
    kept().allowed = true;
}

void store_cache_close() {
    std::lock_guard<std::mutex> hold(cache_lock());
    Kept &cache = kept();
    drop(cache);
    Salt &salt = process_salt();
    OPENSSL_cleanse(salt.bytes, sizeof salt.bytes);
    salt.drawn = false;
    cache.allowed = false;
}

bool find_kept_store(const std::string &store, const char *password, KeyMaterial &out) {
    std::lock_guard<std::mutex> hold(cache_lock());
    Kept &cache = kept();
    if (!cache.allowed || !cache.holds) return false;
    CacheKey key{};
    const bool same =
        cache_key(store, password, key) && CRYPTO_memcmp(key.data(), cache.key.data(), key.size()) == 0;
    OPENSSL_cleanse(key.data(), key.size());
    return same && share_keys(cache.keys, out);
}

void keep_store(const std::string &store, const char *password, const KeyMaterial &keys) {
    std::lock_guard<std::mutex> hold(cache_lock());
    Kept &cache = kept();
    if (!cache.allowed) return;
    drop(cache);
    if (!cache_key(store, password, cache.key) || !share_keys(keys, cache.keys)) {
        drop(cache);
        return;
    }
    cache.holds = true;
}

}  // namespace qs
