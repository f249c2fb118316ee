// The signing path's revocation data: the signer certificate's OCSP status,
// taken from the cache or fetched from its responder, archived as the signed
// attribute revocationInfoArchival. Network and format problems only leave the
// attribute out; a revoked or not good certificate stops the signature.
#include "crypto/signing/revocation_archival.h"

#include <cstdlib>
#include <cstring>

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/input_file.h"
#include "core/base/openssl_errors.h"
#include "core/base/text.h"
#include "crypto/der.h"
#include "crypto/object_ids.h"
#include "crypto/revocation/http_exchange.h"
#include "crypto/revocation/ocsp_status.h"
#include "crypto/revocation/revocation_cache.h"

namespace qs {
namespace {

// Far beyond any real response; keeps every DER length an int.
constexpr std::size_t kLargestResponse = 1u << 24;

void debug(SigningConfig *config, const std::string &text) { handle_debug_message(config, text.c_str()); }

// A cached BasicOCSPResponse stands for cert only while it verifies for cert
// and its issuer and holds a current good status for it.
bool cached_status(SigningConfig *config, X509 *cert, X509 *issuer, const std::string &key, std::string &basic_der) {
    const std::string dir = cache_directory(config->cachedir);
    std::string bytes;
    if (!read_fresh_file(dir, ocsp_basic_cache_path(dir, key), key, kOcspFreshSeconds, bytes)) return false;
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(bytes.data());
    OcspBasicPtr basic(d2i_OCSP_BASICRESP(nullptr, &cursor, static_cast<long>(bytes.size())));
    if (!basic || !holds_good_status(basic.get(), cert, issuer)) {
        debug(config, "cached OCSP response not used; it is fetched again");
        return false;
    }
    basic_der = std::move(bytes);
    return true;
}

bool responder_url(SigningConfig *config, X509 *cert, std::string &url) {
    switch (ocsp_url(cert, url)) {
        case UrlLookup::Found: return true;
        case UrlLookup::NoExtension: debug(config, "No access description found while retrieving OCSP URL...."); break;
        case UrlLookup::Unprintable: debug(config, "Unable to retrieve OCSP URL...."); break;
        case UrlLookup::NoOcspEntry: break;
    }
    return false;
}

// The exchange with the responder: 1 with the reply; 0 when the transfer
// failed, which is tolerated (its message goes to the debug log, not to the
// slot); -1, reported, for a time-out setting that is no number of seconds.
int ask_responder(SigningConfig *config, const std::string &url, const std::string &request, HttpReply &reply) {
    HttpLimits limits;
    if (!http_limits(*config, limits)) return -1;
    ToleratedFailure tolerated;
    const HttpRequest exchange =
        http_request_of_kind(*config, url, HttpKind::Ocsp, reinterpret_cast<const unsigned char *>(request.data()),
                             request.size());
    if (http_exchange(exchange, limits, reply) == 0) return 1;
    const std::string why = tolerated.take();
    if (!why.empty()) debug(config, why);
    debug(config, "Unable to retrieve OCSP response....");
    return 0;
}

// DER of a constructed element with the given tag around content.
std::string constructed(int tag, int xclass, std::string_view content) {
    const int length = static_cast<int>(content.size());
    std::string out(static_cast<std::size_t>(my_i2d_ASN1_bytes(nullptr, length, nullptr, tag, xclass)), '\0');
    unsigned char *cursor = reinterpret_cast<unsigned char *>(out.data());
    my_i2d_ASN1_bytes(reinterpret_cast<const unsigned char *>(content.data()), length, &cursor, tag, xclass);
    return out;
}

std::string primitive(int tag, std::string_view content) {
    const int length = static_cast<int>(content.size());
    std::string out(static_cast<std::size_t>(ASN1_object_size(0, length, tag)), '\0');
    unsigned char *cursor = reinterpret_cast<unsigned char *>(out.data());
    ASN1_put_object(&cursor, 0, length, tag, V_ASN1_UNIVERSAL);
    std::memcpy(cursor, content.data(), content.size());
    return out;
}

std::string basic_response_type() {
    return der_of<ASN1_OBJECT, i2d_ASN1_OBJECT>(OBJ_nid2obj(NID_id_pkix_OCSP_basic));
}

// The signer's status for a C caller: the outputs cleared and checked, the
// certificates loaded from the configured store.
int configured_signer_status(SigningConfig *config, unsigned char **der, long *length, std::string &basic) {
    if (der) *der = nullptr;
    if (length) *length = 0;
    if (!config || !der || !length) {
        report("Missing configuration or place for the OCSP data.");
        return -1;
    }
    KeyMaterial keys;
    if (load_signer_certificates(config, keys) < 0) return -1;
    return signer_ocsp_status(config, keys.cert.get(), keys.chain.get(), basic);
}

// A malloc'd copy of bytes for a C caller; nothing for no bytes.
int hand_over(const std::string &bytes, unsigned char **der, long *length) {
    if (bytes.empty()) return 0;
    auto *copy = static_cast<unsigned char *>(std::malloc(bytes.size()));
    if (!copy) {
        report("Out of memory for the OCSP data.");
        return -1;
    }
    std::memcpy(copy, bytes.data(), bytes.size());
    *der = copy;
    *length = static_cast<long>(bytes.size());
    return 0;
}

}  // namespace

int load_signer_certificates(SigningConfig *config, KeyMaterial &keys) {
    if (std::strcmp(config->certstore, kPkcs12Store) == 0 || is_openssl_store(*config))
        return load_signer_keys(config, keys, "Error in BIO_write() call...");
    if (is_remote_store(*config)) return load_signer_keys(config, keys);
    if (!is_device_store(*config)) {
        report(format("KeyStore %s not supported...", config->certstore));
        return -1;
    }
    bool not_regular = false;
    FilePtr pem = open_regular_file(config->signerpem, not_regular);
    keys.cert.reset(pem ? PEM_read_X509(pem.get(), nullptr, nullptr, nullptr) : nullptr);
    ERR_clear_error();
    if (!keys.cert) {
        report("Error retrieving certificate from PKCS11 KeyStore");
        return -1;
    }
    keys.chain.reset(loadca(config->capem));
    if (!keys.chain) keys.chain.reset(sk_X509_new_null());
    return 0;
}

int signer_ocsp_status(SigningConfig *config, X509 *cert, STACK_OF(X509) *chain, std::string &basic_der) {
    basic_der.clear();
    if (!cert || is_self_signed(cert)) return 0;
    if (refuse_unsafe_cache_directory(cache_directory(config->cachedir)) < 0) return -1;
    const std::string key = serial_key(cert);
    X509 *issuer = find_issuer(cert, chain, 0);
    if (issuer && cached_status(config, cert, issuer, key, basic_der)) return 0;

    std::string url, request;
    if (!responder_url(config, cert, url)) return 0;
    if (!issuer || !ocsp_request(cert, issuer, request)) {
        debug(config, "Unable to build OCSP request....");
        return 0;
    }
    HttpReply reply;
    const int asked = ask_responder(config, url, request, reply);
    if (asked <= 0) return asked;

    const OcspReply judged = judge_reply(
        std::string_view(reinterpret_cast<const char *>(reply.body.data()), reply.body.size()), cert, issuer);
    ERR_clear_error();
    switch (judged.verdict) {
        case OcspVerdict::Good: break;
        case OcspVerdict::Revoked:
        case OcspVerdict::NotGood: report(verdict_text(judged.verdict)); return -1;
        case OcspVerdict::SignedRequestRequired: sign_ocsp_request(); [[fallthrough]];
        default: debug(config, verdict_text(judged.verdict)); return 0;
    }
    basic_der = judged.basic_der;
    // Only a response that says until when it holds is kept for the next signatures.
    if (judged.has_next_update) {
        const std::string dir = cache_directory(config->cachedir);
        write_cache_file(dir, ocsp_basic_cache_path(dir, key), key, basic_der);
    }
    return 0;
}

std::string revocation_archival_value(std::string_view basic_der) {
    const std::string type = basic_response_type();
    if (type.empty() || basic_der.empty() || basic_der.size() > kLargestResponse) return std::string();
    const auto sequence = [](std::string_view content) {
        return constructed(V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL, content);
    };
    const std::string response_bytes = sequence(type + primitive(V_ASN1_OCTET_STRING, basic_der));
    const std::string successful("\x0a\x01\x00", 3);  // ENUMERATED 0
    const std::string response = sequence(successful + constructed(0, V_ASN1_CONTEXT_SPECIFIC, response_bytes));
    return sequence(constructed(1, V_ASN1_CONTEXT_SPECIFIC, sequence(response)));
}

int add_revocation_attribute(SigningConfig *config, const std::string &basic_der, CMS_SignerInfo *signer) {
    if (basic_der.empty()) return 0;
    const std::string value = revocation_archival_value(basic_der);
    if (value.empty() || CMS_signed_add1_attr_by_NID(signer, oid_nid(kRevocationInfoArchival), V_ASN1_SEQUENCE,
                                                     value.data(), static_cast<int>(value.size())) != 1) {
        report_openssl("Error adding signed attribute OCSP revocation info...");
        return -1;
    }
    handle_debug_message(config, "OCSP response archived in the signature");
    return 0;
}

}  // namespace qs

extern "C" {

QS_API int my_i2d_ASN1_bytes(const unsigned char *bytes, int length, unsigned char **out, int tag, int xclass) {
    if (length < 0 || tag < 0) return -1;
    const int total = ASN1_object_size(1, length, tag);
    if (total < 0 || !out || !*out) return total;
    ASN1_put_object(out, 1, length, tag, xclass);
    if (length > 0 && bytes) std::memcpy(*out, bytes, static_cast<std::size_t>(length));
    *out += length;
    return total;
}

QS_API void sign_ocsp_request(void) {
    // Signed OCSP requests are not supported: a responder that requires one
    // gives no status, as any other unsuccessful reply.
}

QS_API int get_ocsp_data(SigningConfig *config, unsigned char **der, long *length) {
    return qs::guarded([&]() -> int {
        std::string basic;
        if (qs::configured_signer_status(config, der, length, basic) < 0) return -1;
        return qs::hand_over(basic, der, length);
    });
}

QS_API int get_revocation_info_archival(SigningConfig *config, unsigned char **der, long *length) {
    return qs::guarded([&]() -> int {
        std::string basic;
        if (qs::configured_signer_status(config, der, length, basic) < 0) return -1;
        if (basic.empty()) return 0;
        const std::string value = qs::revocation_archival_value(basic);
        if (value.empty()) {
            qs::report("Error building the OCSP revocation info...");
            return -1;
        }
        return qs::hand_over(value, der, length);
    });
}

}  // extern "C"
