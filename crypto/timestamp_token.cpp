// The timestamp step of a signature: the SHA-1 of the first SignerInfo's
// signature value is sent to the time-stamping authority, and the token of a
// granted reply becomes the SignerInfo's unsigned timeStampToken attribute.
#include "crypto/timestamp_token.h"

#include <cstring>
#include <string>

#include <openssl/err.h>
#include <openssl/sha.h>
#include <openssl/ts.h>

#include <quillseal/quillseal.h>

#include "core/guard.h"
#include "core/handles.h"
#include "core/text.h"
#include "crypto/hex.h"
#include "crypto/http_exchange.h"
#include "crypto/object_ids.h"
#include "crypto/timestamp_query.h"

namespace qs {
namespace {

std::string tsa_url(const SigningConfig &config) {
    return std::string(config.tsaurl, strnlen(config.tsaurl, sizeof config.tsaurl));
}

// The 40 lowercase hex digits of the SHA-1 of the signature value.
bool signature_digest(CMS_SignerInfo *signer, std::string &hex) {
    const ASN1_OCTET_STRING *value = CMS_SignerInfo_get0_signature(signer);
    unsigned char digest[SHA_DIGEST_LENGTH];
    if (!value || EVP_Digest(ASN1_STRING_get0_data(value), static_cast<std::size_t>(ASN1_STRING_length(value)),
                             digest, nullptr, EVP_sha1(), nullptr) != 1)
        return false;
    hex = lower_hex(digest, sizeof digest);
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

bool add_token(CMS_SignerInfo *signer, TS_RESP *response) {
    PKCS7 *token = TS_RESP_get_token(response);
    unsigned char *der = nullptr;
    const int length = token ? i2d_PKCS7(token, &der) : -1;
    OpensslBufferPtr owned(der);
    return length > 0 && CMS_unsigned_add1_attr_by_NID(signer, oid_nid(kTimeStampToken), V_ASN1_SEQUENCE, der,
                                                       length) == 1;
}

// Query, exchange and acceptance of the reply; the token is added to signer.
int stamp(SigningConfig *config, CMS_SignerInfo *signer) {
    std::string digest_hex;
    TsReqPtr query;
    if (signature_digest(signer, digest_hex)) query = timestamp_query(digest_hex.c_str());
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
    if (!add_token(signer, response.get())) {
        report("Error adding the timestamp token to the signature...");
        return -1;
    }
    handle_debug_message(config, format("Timestamp granted by %s", shown_url(url).c_str()).c_str());
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
