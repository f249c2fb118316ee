#include "crypto/keys/key_store.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <openssl/err.h>
#include <openssl/pkcs12.h>

#include <quillseal/core.h>

#include "core/base/guard.h"
#include "core/base/input_file.h"
#include "core/base/openssl_errors.h"
#include "crypto/keys/key_store_cache.h"
#include "crypto/keys/provider_store.h"
#include "crypto/keys/remote_key.h"

namespace qs {
namespace {

constexpr const char *kParseFailure = "Unable to parse pkcs12; problem with key store or password";

int read_whole_file(const char *path, std::string &bytes) {
    FilePtr file = open_input_file(path ? path : "");
    if (!file) return -1;
    char block[1 << 16];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) bytes.append(block, got);
    if (std::ferror(file.get())) {
        handle_fopen_error_message(path);
        return -1;
    }
    return 0;
}

// Base64 text decoded as one unbroken line when it holds no line feed, else as lines.
int decode_base64(const char *text, std::string &bytes) {
    const std::size_t length = text ? std::strlen(text) : 0;
    if (length > static_cast<std::size_t>(INT_MAX)) {
        report("Error in BIO_write()....");
        return -1;
    }
    BioPtr b64(BIO_new(BIO_f_base64()));
    BioPtr mem(BIO_new_mem_buf(text ? text : "", static_cast<int>(length)));
    if (!b64 || !mem) {
        report("Error in BIO_write()....");
        return -1;
    }
    if (!std::memchr(text ? text : "", '\n', length)) BIO_set_flags(b64.get(), BIO_FLAGS_BASE64_NO_NL);
    // The chain owns the memory buffer from here on and releases it with the filter.
    BIO_push(b64.get(), mem.release());
    char block[4096];
    int got;
    while ((got = BIO_read(b64.get(), block, sizeof block)) > 0) bytes.append(block, static_cast<std::size_t>(got));
    return 0;
}

// OpenSSL 3 reads RC2 and DES-based stores only through its legacy provider;
// both providers stay loaded for the rest of the process once needed.
bool load_legacy_provider() {
    static OSSL_PROVIDER *legacy = nullptr;
    static OSSL_PROVIDER *fallback = nullptr;
    if (legacy) return false;  // already there: a second try would change nothing
    if (!fallback) fallback = OSSL_PROVIDER_load(nullptr, "default");
    legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    return legacy != nullptr;
}

bool parse_store(PKCS12 *p12, const char *password, KeyMaterial &out) {
    EVP_PKEY *key = nullptr;
    X509 *cert = nullptr;
    STACK_OF(X509) *chain = nullptr;
    if (PKCS12_parse(p12, password ? password : "", &key, &cert, &chain) != 1) return false;
    out.key.reset(key);
    out.cert.reset(cert);
    out.chain.reset(chain ? chain : sk_X509_new_null());
    return true;
}

int parse_pkcs12(const Pkcs12Source &source, const std::string &bytes, KeyMaterial &out) {
    BioPtr mem(BIO_new(BIO_s_mem()));
    if (!mem || bytes.empty() || BIO_write(mem.get(), bytes.data(), static_cast<int>(bytes.size())) <= 0) {
        report(bytes.empty() ? kParseFailure : source.buffer_message);
        return -1;
    }
    Pkcs12Ptr p12(d2i_PKCS12_bio(mem.get(), nullptr));
    if (!p12) {
        ERR_clear_error();
        report(kParseFailure);
        return -1;
    }
    bool parsed = parse_store(p12.get(), source.certpasswd, out);
    if (!parsed && load_legacy_provider()) {
        ERR_clear_error();
        parsed = parse_store(p12.get(), source.certpasswd, out);
    }
    ERR_clear_error();
    if (!parsed) {
        report(kParseFailure);
        return -1;
    }
    if (!out.key || !out.cert) {
        report("The key store holds no private key with its certificate.");
        return -1;
    }
    return 0;
}

}  // namespace

int read_store_bytes(const Pkcs12Source &source, std::string &bytes) {
    if (source.certfiledata == 1) return decode_base64(source.certfile, bytes);
    return read_whole_file(source.certfile, bytes);
}

// The store is read for every document; what it parses to is shared from the
// run's cache while its bytes and password are those parsed before.
int load_pkcs12(const Pkcs12Source &source, KeyMaterial &out) {
    std::string bytes;
    if (read_store_bytes(source, bytes) < 0) return -1;
    if (find_kept_store(bytes, source.certpasswd, out)) return 0;
    KeyMaterial parsed;
    if (parse_pkcs12(source, bytes, parsed) < 0) return -1;
    keep_store(bytes, source.certpasswd, parsed);
    out = std::move(parsed);
    return 0;
}

bool is_device_store(const SigningConfig &config) { return std::strcmp(config.certstore, kPkcs11Device) == 0; }
bool is_openssl_store(const SigningConfig &config) { return std::strcmp(config.certstore, kOpensslStore) == 0; }

bool is_remote_store(const SigningConfig &config) { return std::strcmp(config.certstore, kRemoteService) == 0; }

std::size_t configured_batch(const SigningConfig &config) {
    if (!is_remote_store(config)) return 1;
    const long configured = std::atol(config.cscbatch);
    return configured > 0 ? static_cast<std::size_t>(configured) : 100;
}

int load_signer_keys(SigningConfig *config, KeyMaterial &out, const char *buffer_message) {
    if (is_device_store(*config)) return load_device_keys(config, out);
    if (is_openssl_store(*config)) return load_store_keys(config, out);
    if (is_remote_store(*config)) return load_remote_keys(config, out);
    Pkcs12Source source;
    source.certfiledata = config->certfiledata;
    source.certfile = config->certfile;
    source.certpasswd = config->certpasswd;
    source.buffer_message = buffer_message;
    return load_pkcs12(source, out);
}

X509StackViewPtr chain_to_embed(X509 *cert, STACK_OF(X509) *chain) {
    X509StackViewPtr unique(sk_X509_new_null());
    if (!unique) return unique;
    const auto seen = [&unique](X509 *x) {
        for (int i = 0; i < sk_X509_num(unique.get()); ++i)
            if (X509_cmp(x, sk_X509_value(unique.get(), i)) == 0) return true;
        return false;
    };
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        X509 *x = sk_X509_value(chain, i);
        if (!x || (cert && X509_cmp(x, cert) == 0) || seen(x)) continue;
        if (!sk_X509_push(unique.get(), x)) return nullptr;
    }
    return unique;
}

}  // namespace qs
