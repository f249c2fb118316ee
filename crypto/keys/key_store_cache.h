// The PKCS#12 key store of a run, parsed once. Deriving the store's keys from
// its password is most of the work of signing a small document, so a process
// that signs many documents with one store between pdfsigning_init (or
// pdfsigning_init_cmd) and pdfsigning_shutdown parses it only once.
//
// The store is still read for every document (a few kilobytes), and the kept
// key material is used only for exactly the bytes and the password it was
// parsed from: a store replaced, rewritten or edited in place, or another
// password, is parsed again, whatever the file's times say. The cache holds
// one store under a salted digest of its bytes and password; the password
// itself, or a plain digest of it, is never kept. Init only allows keeping;
// shutdown drops the key material (OpenSSL clears private keys as it frees
// them) and cleanses the digest and salt. Without init nothing is kept.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>

#include "crypto/keys/key_store.h"

namespace qs {

using CacheKey = std::array<unsigned char, 32>;

// The key under which a cache keeps what secrets open: SHA-256 over a salt
// drawn once per process (wiped by store_cache_close) and every part with its
// length, so that a cache never holds a password or PIN, not even as a plain
// digest. False when no salt can be drawn: nothing is kept then.
bool salted_cache_key(std::initializer_list<std::string_view> parts, CacheKey &key);

// Allows keeping a parsed store (pdfsigning_init*).
void store_cache_open();
// Drops and cleanses what is kept and keeps nothing more (pdfsigning_shutdown).
void store_cache_close();

// Shares the kept key material into out (new references to the same key,
// certificate and chain) when the cache holds the store with these bytes and
// this password. False otherwise, out unchanged.
bool find_kept_store(const std::string &store, const char *password, KeyMaterial &out);

// Keeps a share of keys as the store with these bytes and password, in place
// of whatever was kept, when keeping is allowed.
void keep_store(const std::string &store, const char *password, const KeyMaterial &keys);

}  // namespace qs
