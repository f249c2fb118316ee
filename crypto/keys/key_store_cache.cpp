#include "crypto/keys/key_store_cache.h"

#include <array>
#include <cstring>
#include <mutex>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace qs {
namespace {

using CacheKey = std::array<unsigned char, 32>;

struct Kept {
    bool allowed = false;      // between init and shutdown
    bool salted = false;
    unsigned char salt[32] = {};
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

// SHA-256 over the per-process salt, the store's length and bytes, and the
// password. False when no salt can be drawn: nothing is kept then.
bool cache_key(Kept &cache, const std::string &store, const char *password, CacheKey &key) {
    if (!cache.salted) {
        if (RAND_bytes(cache.salt, sizeof cache.salt) != 1) return false;
        cache.salted = true;
    }
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    const unsigned long long length = store.size();
    const char *secret = password ? password : "";
    unsigned int size = 0;
    return ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1 &&
           EVP_DigestUpdate(ctx.get(), cache.salt, sizeof cache.salt) == 1 &&
           EVP_DigestUpdate(ctx.get(), &length, sizeof length) == 1 &&
           EVP_DigestUpdate(ctx.get(), store.data(), store.size()) == 1 &&
           EVP_DigestUpdate(ctx.get(), secret, std::strlen(secret)) == 1 &&
           EVP_DigestFinal_ex(ctx.get(), key.data(), &size) == 1 && size == key.size();
}

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
    OPENSSL_cleanse(cache.salt, sizeof cache.salt);
    cache.salted = false;
    cache.allowed = false;
}

bool find_kept_store(const std::string &store, const char *password, KeyMaterial &out) {
    std::lock_guard<std::mutex> hold(cache_lock());
    Kept &cache = kept();
    if (!cache.allowed || !cache.holds) return false;
    CacheKey key{};
    const bool same =
        cache_key(cache, store, password, key) && CRYPTO_memcmp(key.data(), cache.key.data(), key.size()) == 0;
    OPENSSL_cleanse(key.data(), key.size());
    return same && share_keys(cache.keys, out);
}

void keep_store(const std::string &store, const char *password, const KeyMaterial &keys) {
    std::lock_guard<std::mutex> hold(cache_lock());
    Kept &cache = kept();
    if (!cache.allowed) return;
    drop(cache);
    if (!cache_key(cache, store, password, cache.key) || !share_keys(keys, cache.keys)) {
        drop(cache);
        return;
    }
    cache.holds = true;
}

}  // namespace qs
