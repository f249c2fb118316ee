// A remote signing service on 127.0.0.1 for the tests of keys held by one:
// tests/support/csc_service.py with the fixture PKCS#12 stores as its
// credentials "rsa" (Test Signer) and "ec" (EC Signer), an access token, a
// login and a credential PIN; started on a free port, stopped with the object.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/support.h"

namespace cryptotest {

// One request the service answered, from its log.
struct CscRequest {
    std::string method;
    long status = 0;                     // the HTTP status it was answered with; 0 for a fault
    long num_signatures = 0;             // of an authorisation
    long hashes = 0;                     // hashes the request carried
    std::vector<std::string> issued;     // tokens and SADs the service gave for it
};

class CscService {
public:
    static constexpr const char *kToken = "csc-token-7f3a91c2";
    static constexpr const char *kUser = "remote-signer";
    static constexpr const char *kPassword = "remote-pass-5512";
    static constexpr const char *kPin = "730914";

    // extra: more options of csc_service.py (--fault, --latency, ...).
    explicit CscService(const std::vector<std::string> &extra = {});
    ~CscService();
    CscService(const CscService &) = delete;
    CscService &operator=(const CscService &) = delete;

    std::string url() const;  // the base URL, ending in /csc/v2
    std::vector<CscRequest> requests() const;
    int count(const std::string &method) const;

    // A key=value configuration (file `name` in dir) for the service: the
    // extra lines first (the first value of a key wins), then the token
    // (unless the configuration logs in) and PIN in stored form.
    std::string write_config(const qstest::TempDir &dir, const std::string &extra = "",
                             const std::string &name = "remote.conf", bool with_token = true) const;

private:
    qstest::TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// The stored form that quillseal -e prints for secret.
std::string stored_form(const std::string &secret);

}  // namespace cryptotest
