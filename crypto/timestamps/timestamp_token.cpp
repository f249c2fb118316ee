// Timestamp tokens from the configured time-stamping authority: the query for
// a digest, the exchange and the acceptance of the reply. A signature's token
// is requested over its signature value, hashed with the signature's own
// digest algorithm (SHA-256 where that is SHA-1), and becomes the SignerInfo's
// unsigned signature-time-stamp-token attribute.
#include "crypto/timestamps/timestamp_token.h"

#include <cstring>
#include <string>
#include <vector>

#include <openssl/err.h>
#include <openssl/sha.h>
#include <openssl/ts.h>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"
#include "crypto/der.h"
#include "crypto/hex.h"
#include "crypto/object_ids.h"
#include "crypto/revocation/http_exchange.h"
#include "crypto/timestamps/timestamp_query.h"

namespace qs {
namespace {

std::string tsa_url(const SigningConfig &config) {
    return std::string(config.tsaurl, strnlen(config.tsaurl, sizeof config.tsaurl));
}

// The digest a signature's imprint is made with: the SignerInfo's own, but
// never SHA-1, whose collisions would let one token stand for another value.
const EVP_MD *imprint_digest(CMS_SignerInfo *signer) {
    X509_ALGOR *algorithm = nullptr;
    CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &algorithm, nullptr);
    const ASN1_OBJECT *oid = nullptr;
    if (algorithm) X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    const int nid = oid ? OBJ_obj2nid(oid) : NID_undef;
    const EVP_MD *md = nid == NID_undef ? nullptr : EVP_get_digestbynid(nid);
    if (!md || EVP_MD_get_type(md) == NID_sha1) return EVP_sha256();
    return md;
}

// The digest of the first SignerInfo's signature value under md.
bool signature_digest(CMS_SignerInfo *signer, const EVP_MD *md, std::vector<unsigned char> &digest) {
    const ASN1_OCTET_STRING *value = CMS_SignerInfo_get0_signature(signer);
    unsigned int length = 0;
    digest.resize(EVP_MAX_MD_SIZE);
    if (!value || EVP_Digest(ASN1_STRING_get0_data(value), static_cast<std::size_t>(ASN1_STRING_length(value)),
                             digest.data(), &length, md, nullptr) != 1)
        return false;
    digest.resize(length);
    return true;
}

TsRespPtr decode_reply(const HttpReply &reply) {
    const unsigned char *cursor = reply.body.data();
    if (reply.body.empty()) return nullptr;
    return TsRespPtr(d2i_TS_RESP(nullptr, &cursor, static_cast<long>(reply.body.size())));
}

long reply_status(TS_RESP *response) {
    const ASN1_INTEGER *status = TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response));
    return status ? ASN1_INTEGER_get(status) : -1;
}

// A granted token must answer this query: its imprint is the one that was sent.
bool answers_query(TS_REQ *query, TS_RESP *response) {
    TsVerifyCtxPtr check(TS_REQ_to_TS_VERIFY_CTX(query, nullptr));
    if (!check) return false;
    TS_VERIFY_CTX_set_flags(check.get(), TS_VFY_VERSION | TS_VFY_IMPRINT);
    return TS_RESP_verify_response(check.get(), response) == 1;
}

std::string token_der(TS_RESP *response) { return der_of<PKCS7, i2d_PKCS7>(TS_RESP_get_token(response)); }

}  // namespace

int fetch_timestamp_token(SigningConfig *config, const EVP_MD *md, const std::vector<unsigned char> &digest,
                          std::string &token) {
    token.clear();
    TsReqPtr query = timestamp_query(md, digest);
    unsigned char *der = nullptr;
    const int length = query ? i2d_TS_REQ(query.get(), &der) : -1;
    OpensslBufferPtr owned(der);
    if (length <= 0) {
        report("Error creating the timestamp query...");
        return -1;
    }

    const std::string url = tsa_url(*config);
    HttpLimits limits;
    HttpReply reply;
    if (!http_limits(*config, limits) ||
        http_exchange(http_request_of_kind(*config, url, HttpKind::Timestamp, der, static_cast<std::size_t>(length)),
                      limits, reply) < 0)
        return -1;

    TsRespPtr response = decode_reply(reply);
    if (!response) {
        report(format("The TSA reply is not a timestamp response (HTTP status %ld) [URL: %s]", reply.status,
                      shown_url(url).c_str()));
        return -1;
    }
    const long status = reply_status(response.get());
    if (status != 0 && status != 1) {
        report(format("TSA did not grant timestamp! Response status: [%ld]\n", status));
        return -1;
    }
    if (!answers_query(query.get(), response.get())) {
        report(format("The TSA reply does not answer the timestamp query [URL: %s]", shown_url(url).c_str()));
        return -1;
    }
    token = token_der(response.get());
    if (token.empty()) {
        report("Error adding the timestamp token to the signature...");
        return -1;
    }
    handle_debug_message(config, format("Timestamp granted by %s", shown_url(url).c_str()).c_str());
    return 0;
}

namespace {

// The token over signer's signature value becomes its unsigned attribute.
int stamp(SigningConfig *config, CMS_SignerInfo *signer) {
    const EVP_MD *md = imprint_digest(signer);
    std::vector<unsigned char> digest;
    if (!signature_digest(signer, md, digest)) {
        report("Error creating the timestamp query...");
        return -1;
    }
    std::string token;
    if (fetch_timestamp_token(config, md, digest, token) < 0) return -1;
    if (CMS_unsigned_add1_attr_by_NID(signer, oid_nid(kTimeStampToken), V_ASN1_SEQUENCE, token.data(),
                                      static_cast<int>(token.size())) != 1) {
        report("Error adding the timestamp token to the signature...");
        return -1;
    }
    return 0;
}

}  // namespace

int add_timestamp_token(SigningConfig *config, CMS_ContentInfo *cms) {
    // The single-file route of the program reaches here without the early check.
    if (tsa_ok(config, 1) < 0) return -1;
    STACK_OF(CMS_SignerInfo) *signers = CMS_get0_SignerInfos(cms);
    CMS_SignerInfo *first = signers && sk_CMS_SignerInfo_num(signers) > 0 ? sk_CMS_SignerInfo_value(signers, 0) : nullptr;
    if (!first) {
        report("The signature has no signer to timestamp...");
        return -1;
    }
    const int rc = stamp(config, first);
    if (bio_err) ERR_print_errors(bio_err);
    return rc;
}

}  // namespace qs
