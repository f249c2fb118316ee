// CRL distribution points and the CRLs they serve.
#include "crypto/revocation/crl_fetch.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"
#include "crypto/der.h"
#include "crypto/revocation/ocsp_status.h"
#include "crypto/revocation/revocation_cache.h"
#include "crypto/revocation/revocation_checks.h"

namespace qs {
namespace {

// The CRL that bytes hold, as DER or as PEM, with its DER; none when they hold none.
X509CrlPtr parse_crl(const std::string &bytes, std::string &der) {
    const unsigned char *start = reinterpret_cast<const unsigned char *>(bytes.data());
    const unsigned char *cursor = start;
    X509CrlPtr crl(bytes.empty() ? nullptr : d2i_X509_CRL(nullptr, &cursor, static_cast<long>(bytes.size())));
    if (crl) {
        der.assign(bytes.data(), static_cast<std::size_t>(cursor - start));
        return crl;
    }
    BioPtr text(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    crl.reset(text ? PEM_read_bio_X509_CRL(text.get(), nullptr, nullptr, nullptr) : nullptr);
    ERR_clear_error();
    der = der_of<X509_CRL, i2d_X509_CRL>(crl.get());
    return der.empty() ? nullptr : std::move(crl);
}

// The DER of the CRL that bytes hold when issuer signed it; false otherwise.
bool checked_crl(const std::string &bytes, X509 *issuer, std::string &der) {
    X509CrlPtr crl = parse_crl(bytes, der);
    return crl && crl_verifies(crl.get(), issuer);
}

bool fetch(const std::string &url, X509 *issuer, const HttpLimits &limits, std::string &der) {
    HttpRequest request;
    request.url = url;
    request.post = false;
    HttpReply reply;
    if (http_exchange(request, limits, reply) < 0) return false;
    const std::string body(reply.body.begin(), reply.body.end());
    X509CrlPtr crl = reply.status / 100 == 2 ? parse_crl(body, der) : nullptr;
    if (!crl) {
        report(format("The CRL distribution point sent no CRL (HTTP status %ld) [URL: %s]", reply.status,
                      shown_url(url).c_str()));
        return false;
    }
    if (!crl_verifies(crl.get(), issuer)) {
        report(format("The CRL is not signed by the certificate's issuer [URL: %s]", shown_url(url).c_str()));
        return false;
    }
    return true;
}

}  // namespace

CrlPoint crl_url(X509 *cert, std::string &url) {
    CrlDistPointsPtr points(
        static_cast<CRL_DIST_POINTS *>(X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr)));
    std::string ldap;
    for (int i = 0; points && i < sk_DIST_POINT_num(points.get()); ++i) {
        const DIST_POINT *point = sk_DIST_POINT_value(points.get(), i);
        if (!point->distpoint || point->distpoint->type != 0) continue;  // no full name
        const GENERAL_NAMES *names = point->distpoint->name.fullname;
        for (int j = 0; j < sk_GENERAL_NAME_num(names); ++j) {
            std::string text;
            if (!uri_text(sk_GENERAL_NAME_value(names, j), text)) continue;
            // The first URI of the full name stands for the point.
            if (const std::size_t http = text.find("http"); http != std::string::npos) {
                url = text.substr(http);
                return CrlPoint::Found;
            }
            if (const std::size_t at = text.find("ldap"); at != std::string::npos && ldap.empty())
                ldap = text.substr(at);
            break;
        }
    }
    if (ldap.empty()) return CrlPoint::Missing;
    url = ldap;
    return CrlPoint::NoHttp;
}

bool crl_of(const std::string &url, X509 *issuer, const std::string &cachedir, const HttpLimits &limits,
            std::string &der) {
    const std::string key = crl_cache_key(url);
    const std::string path = crl_cache_path(cachedir, key);
    std::string cached;
    if (read_fresh_file(cachedir, path, key, kCrlFreshSeconds, cached) && checked_crl(cached, issuer, der))
        return true;
    if (!fetch(url, issuer, limits, der)) return false;
    write_cache_file(cachedir, path, key, der);
    return true;
}

}  // namespace qs
