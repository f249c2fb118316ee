#include "crypto/keys/remote_key.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include "core/base/guard.h"
#include "core/base/text.h"
#include "crypto/keys/csc_client.h"
#include "crypto/keys/key_store_cache.h"

namespace qs {
namespace {

template <std::size_t N>
std::string_view field(const char (&text)[N]) {
    return std::string_view(text, strnlen(text, N));
}

// The service logged into and the credential it described.
struct Session {
    CscClient client;
    CscCredential credential;
};

struct Sessions {
    bool allowed = false;  // between init and shutdown
    std::shared_ptr<Session> session;
    CacheKey key{};
};

std::mutex &sessions_lock() {
    static std::mutex lock;
    return lock;
}

Sessions &sessions() {
    static Sessions kept;
    return kept;
}

// Everything a session depends on; the secrets only through the salted digest.
bool settings_key(const SigningConfig &c, CacheKey &key) {
    return salted_cache_key({field(c.cscurl), field(c.csccredential), field(c.csctoken), field(c.cscuser),
                             field(c.cscpasswd), field(c.proxyprotocol), field(c.proxyhost), field(c.httptimeout)},
                            key);
}

std::shared_ptr<Session> kept_session(const SigningConfig &config) {
    std::lock_guard<std::mutex> hold(sessions_lock());
    Sessions &kept = sessions();
    CacheKey key{};
    const bool same = kept.allowed && kept.session && settings_key(config, key) &&
                      CRYPTO_memcmp(key.data(), kept.key.data(), key.size()) == 0;
    OPENSSL_cleanse(key.data(), key.size());
    return same ? kept.session : nullptr;
}

void keep_session(const SigningConfig &config, const std::shared_ptr<Session> &session) {
    std::lock_guard<std::mutex> hold(sessions_lock());
    Sessions &kept = sessions();
    if (!kept.allowed) return;
    kept.session.reset();
    if (settings_key(config, kept.key)) kept.session = session;
}

// A session that failed is not used again: the next document logs in afresh.
void forget_session(const Session *session) {
    std::lock_guard<std::mutex> hold(sessions_lock());
    if (sessions().session.get() == session) sessions().session.reset();
}

std::shared_ptr<Session> open_session(SigningConfig *config) {
    auto session = std::make_shared<Session>();
    CscClient &client = session->client;
    if (CscClient::open(*config, client) < 0 || client.check_service(*config) < 0) return nullptr;
    if (config->csctoken[0] == '\0' && client.login(*config) < 0) return nullptr;
    std::string id(field(config->csccredential));
    if (id.empty() && client.first_credential(*config, id) < 0) return nullptr;
    if (client.describe(*config, id, session->credential) < 0) return nullptr;
    return session;
}

std::string oid_text(int nid) {
    char text[80] = "";
    const ASN1_OBJECT *object = OBJ_nid2obj(nid);
    if (!object || OBJ_obj2txt(text, sizeof text, object, 1) <= 0) return std::string();
    return text;
}

// The signature algorithm to ask for: the one naming the digest and the key
// (sha256WithRSAEncryption, ecdsa-with-SHA256, ...), else the key's own
// (rsaEncryption, ecPublicKey) with the digest named apart, whichever the
// credential allows; the combined one when it says nothing.
int sign_algorithm(EVP_PKEY *key, const EVP_MD *md, const std::vector<std::string> &allowed, std::string &oid) {
    const int kind = EVP_PKEY_get_base_id(key);
    int combined = NID_undef;
    if ((kind != EVP_PKEY_RSA && kind != EVP_PKEY_EC) ||
        OBJ_find_sigid_by_algs(&combined, EVP_MD_get_type(md), kind) != 1) {
        report(format("A key in a remote signing service is used with RSA or EC and %s only.", EVP_MD_get0_name(md)));
        return -1;
    }
    const std::string candidates[] = {oid_text(combined), oid_text(kind)};
    if (allowed.empty()) {
        oid = candidates[0];
        return 0;
    }
    for (const std::string &candidate : candidates)
        if (std::find(allowed.begin(), allowed.end(), candidate) != allowed.end()) {
            oid = candidate;
            return 0;
        }
    report(format("The credential allows neither of the signature algorithms %s and %s.", candidates[0].c_str(),
                  candidates[1].c_str()));
    return -1;
}

bool verifies(EVP_PKEY *key, const EVP_MD *md, const std::string &digest, const std::string &value) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    const bool good = ctx && EVP_PKEY_verify_init(ctx.get()) == 1 && EVP_PKEY_CTX_set_signature_md(ctx.get(), md) == 1 &&
                      EVP_PKEY_verify(ctx.get(), reinterpret_cast<const unsigned char *>(value.data()), value.size(),
                                      reinterpret_cast<const unsigned char *>(digest.data()), digest.size()) == 1;
    ERR_clear_error();
    return good;
}

// An ECDSA value sent as r and s side by side, as some services do, in the
// DER form a signature carries; empty when it is not that.
std::string der_of_raw_ecdsa(EVP_PKEY *key, const std::string &value) {
    const std::size_t half = static_cast<std::size_t>((EVP_PKEY_get_bits(key) + 7) / 8);
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC || value.size() != 2 * half) return std::string();
    const auto *bytes = reinterpret_cast<const unsigned char *>(value.data());
    EcdsaSigPtr sig(ECDSA_SIG_new());
    BignumPtr r(BN_bin2bn(bytes, static_cast<int>(half), nullptr));
    BignumPtr s(BN_bin2bn(bytes + half, static_cast<int>(half), nullptr));
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return std::string();
    r.release();
    s.release();
    unsigned char *der = nullptr;
    const int length = i2d_ECDSA_SIG(sig.get(), &der);
    OpensslBufferPtr owned(der);
    return length > 0 ? std::string(reinterpret_cast<char *>(der), static_cast<std::size_t>(length)) : std::string();
}

// Nothing goes into a document unless it verifies with the certificate.
SignedValue checked(EVP_PKEY *key, const EVP_MD *md, const std::string &digest, std::string value) {
    if (value.empty()) return {std::string(), "The remote signing service returned an empty signature value."};
    if (!verifies(key, md, digest, value)) {
        std::string der = der_of_raw_ecdsa(key, value);
        if (der.empty() || !verifies(key, md, digest, der))
            return {std::string(), "The remote signing service returned a signature value that does not verify "
                                   "with the credential's certificate."};
        value = std::move(der);
    }
    return {std::move(value), std::string()};
}

class RemoteSigner : public DigestSigner {
public:
    RemoteSigner(std::shared_ptr<Session> session, std::size_t limit) : session_(std::move(session)), limit_(limit) {}

    std::size_t batch_limit() const override { return limit_; }

    int sign_digests(SigningConfig *config, const EVP_MD *md, const std::vector<std::string> &digests,
                     std::vector<SignedValue> &values) override {
        values.clear();
        for (std::size_t start = 0; start < digests.size(); start += limit_) {
            const auto first = digests.begin() + static_cast<std::ptrdiff_t>(start);
            const std::vector<std::string> part(first, first + static_cast<std::ptrdiff_t>(
                                                                   std::min(limit_, digests.size() - start)));
            if (sign_part(*config, md, part, values) < 0) {
                forget_session(session_.get());
                return -1;
            }
        }
        return 0;
    }

private:
    // One authorisation for the part's hashes and one signing exchange; a SAD
    // the service finds expired is renewed once.
    int sign_part(SigningConfig &config, const EVP_MD *md, const std::vector<std::string> &digests,
                  std::vector<SignedValue> &values) {
        CscClient &client = session_->client;
        const CscCredential &credential = session_->credential;
        EVP_PKEY *key = X509_get0_pubkey(credential.cert.get());
        std::string algorithm, sad;
        if (!key || sign_algorithm(key, md, credential.algorithms, algorithm) < 0) return -1;
        const std::string hash_oid = oid_text(EVP_MD_get_type(md));
        std::vector<std::string> hashes;
        for (const std::string &digest : digests) hashes.push_back(to_base64(digest));
        std::vector<std::string> got;
        bool expired = false;
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (client.authorize(config, credential, hash_oid, hashes, sad) < 0) return -1;
            const int rc = client.sign_hashes(config, credential, sad, hash_oid, algorithm, hashes, got, expired);
            OPENSSL_cleanse(sad.data(), sad.size());
            if (rc == 0) break;
            if (!expired) return -1;
            if (attempt == 0)
                handle_debug_message(&config, "Remote signing service: the SAD expired before it was used; renewed");
        }
        if (expired) {
            report("The remote signing service refused its authorisation as expired, also when renewed.");
            return -1;
        }
        if (got.size() != digests.size()) {
            report(format("The remote signing service returned %zu signatures for %zu hashes.", got.size(),
                          digests.size()));
            return -1;
        }
        for (std::size_t i = 0; i < got.size(); ++i) values.push_back(checked(key, md, digests[i], std::move(got[i])));
        return 0;
    }

    std::shared_ptr<Session> session_;
    std::size_t limit_;
};

// The configured batch, no more than one authorisation of the credential covers.
std::size_t batch_of(const SigningConfig &config, const CscCredential &credential) {
    std::size_t limit = configured_batch(config);
    if (credential.multisign > 0) limit = std::min(limit, static_cast<std::size_t>(credential.multisign));
    return limit;
}

}  // namespace

int load_remote_keys(SigningConfig *config, KeyMaterial &out) {
    std::shared_ptr<Session> session = kept_session(*config);
    if (!session) {
        session = open_session(config);
        if (!session) return -1;
        keep_session(*config, session);
    }
    const CscCredential &credential = session->credential;
    if (X509_up_ref(credential.cert.get()) != 1) throw std::bad_alloc();
    out.cert.reset(credential.cert.get());
    out.chain.reset(X509_chain_up_ref(credential.chain.get()));
    if (!out.chain) throw std::bad_alloc();
    out.key.reset();
    out.remote = std::make_shared<RemoteSigner>(session, batch_of(*config, credential));
    return 0;
}

void remote_sessions_open() {
    std::lock_guard<std::mutex> hold(sessions_lock());
    sessions().allowed = true;
}

void remote_sessions_close() {
    std::lock_guard<std::mutex> hold(sessions_lock());
    Sessions &kept = sessions();
    kept.session.reset();
    OPENSSL_cleanse(kept.key.data(), kept.key.size());
    kept.allowed = false;
}

}  // namespace qs
