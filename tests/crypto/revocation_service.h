// A revocation service on 127.0.0.1 for the OCSP, CRL and LTV tests: an
// `openssl ocsp` responder and a CRL distribution point behind the local HTTP
// service, with a test PKI (tests/support/make_ltv_pki.sh) whose certificates
// name them. Started on a free port by the test and stopped with the object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "crypto/local_service.h"
#include "support/support.h"

namespace cryptotest {

class RevocationService {
public:
    // with_rsa_chain: the PKI also holds the RSA chain of make_ltv_pki.sh (rsa.p12 and its files);
    // service: more options of the service (--latency ...).
    explicit RevocationService(bool with_rsa_chain = false, const std::vector<std::string> &service = {});

    // The file of the PKI folder: "signer.p12", "inter/ca.pem", "crl/inter.crl", ...
    std::string file(const std::string &name) const { return pki_.file(name); }
    // Requests received so far for path ("/ocsp/inter", "/crl/root.crl").
    int requests_to(const std::string &path) const;
    // The time-stamping authority of the PKI (tsa/), which its intermediate
    // issued; its tokens carry its chain, or with own_certificate_only its
    // certificate alone.
    std::string tsa_url(bool own_certificate_only = false) const {
        return service_->url("http", own_certificate_only ? "/tsa/own" : "/tsa");
    }

private:
    qstest::TempDir pki_;
    std::unique_ptr<qstest::LocalService> service_;
};

// The DER SignedData of the newest signature of pdf (opened with password);
// empty when there is none.
std::string newest_signature_der(const std::string &pdf, const std::string &password = "");

// The OCSPResponse DER archived in the newest signature of pdf (its
// revocationInfoArchival attribute); empty when there is none.
std::string archived_ocsp_response(const std::string &pdf, const std::string &password = "");

// A DER OCSPResponse about cert (a PKI file), answered from the database of
// the CA in ca ("inter"), signed with signer and its key (PKI files without
// ".pem" and ".key": "inter/responder", "inter/ca", "forger/ca").
std::string make_ocsp_response(const RevocationService &pki, const std::string &cert, const std::string &ca,
                               const std::string &signer);

// The BasicOCSPResponse DER inside a DER OCSPResponse.
std::string basic_response_of(const std::string &response_der);

// Puts a file into a cache directory as if it had just been fetched: its
// bytes, and the current time under key in the fetch-time database.
void plant_cache_file(const std::string &cache, const std::string &name, const std::string &bytes,
                      const std::string &key);

// `openssl ocsp` reading a DER response about cert issued by issuer, the
// response's signature checked against the PKI's root: "<cert>: good" etc.
std::string ocsp_verdict(const RevocationService &pki, const std::string &response_der, const std::string &cert,
                         const std::string &issuer);

}  // namespace cryptotest
