// Building the timestamp query from the digest of what is to be timestamped.
#include "crypto/timestamps/timestamp_query.h"

#include <cstdlib>
#include <cstring>

#include <openssl/objects.h>
#include <openssl/ts.h>

#include <quillseal/crypto.h>

#include "core/base/guard.h"

namespace qs {

bool digest_from_hex(const char *hex, const EVP_MD *md, std::vector<unsigned char> &bytes) {
    bytes.clear();
    const int expected = md ? EVP_MD_get_size(md) : 0;
    long length = 0;
    OpensslBufferPtr read(hex ? OPENSSL_hexstr2buf(hex, &length) : nullptr);
    if (!read || expected <= 0 || length != expected) {
        if (bio_err) BIO_printf(bio_err, "bad digest, %d bytes must be specified\n", expected);
        return false;
    }
    bytes.assign(read.get(), read.get() + length);
    return true;
}

TsReqPtr timestamp_query(const EVP_MD *md, const std::vector<unsigned char> &digest) {
    TsReqPtr query(TS_REQ_new());
    TsMsgImprintPtr imprint(TS_MSG_IMPRINT_new());
    X509AlgorPtr algorithm(X509_ALGOR_new());
    const bool built =
        md && query && imprint && algorithm && TS_REQ_set_version(query.get(), 1) == 1 &&
        X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(EVP_MD_get_type(md)), V_ASN1_NULL, nullptr) == 1 &&
        TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) == 1 &&
        TS_MSG_IMPRINT_set_msg(imprint.get(), const_cast<unsigned char *>(digest.data()),
                               static_cast<int>(digest.size())) == 1 &&
        TS_REQ_set_msg_imprint(query.get(), imprint.get()) == 1 && TS_REQ_set_cert_req(query.get(), 1) == 1;
    if (!built) {
        if (bio_err) BIO_printf(bio_err, "could not create query\n");
        return nullptr;
    }
    return query;
}

TsReqPtr timestamp_query(const char *digest_hex) {
    const EVP_MD *md = EVP_get_digestbyname("sha1");
    std::vector<unsigned char> digest;
    if (!digest_from_hex(digest_hex, md, digest)) {
        if (bio_err) BIO_printf(bio_err, "could not create query\n");
        return nullptr;
    }
    return timestamp_query(md, digest);
}

}  // namespace qs

extern "C" {

QS_API TS_REQ *create_query(const char *digest_hex) {
    return qs::guarded_ptr([&]() -> TS_REQ * { return qs::timestamp_query(digest_hex).release(); });
}

QS_API int create_digest(const char *digest_hex, const EVP_MD *md, unsigned char **digest) {
    return qs::guarded([&]() -> int {
        if (digest) *digest = nullptr;
        std::vector<unsigned char> bytes;
        if (!digest || !qs::digest_from_hex(digest_hex, md, bytes)) return 0;
        qs::MallocPtr<unsigned char> copy(static_cast<unsigned char *>(std::malloc(bytes.size())));
        if (!copy) return 0;
        std::memcpy(copy.get(), bytes.data(), bytes.size());
        *digest = copy.release();
        return static_cast<int>(bytes.size());
    });
}

}  // extern "C"
