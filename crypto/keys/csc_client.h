// The client of a remote signing service: its JSON methods under the base URL
// (".../csc/v2"), each one POST through the library's HTTP exchange, so its
// time-out, body cap, proxy and TLS checks hold here too. What the service
// sends is checked for its shape before it is used; signature values are
// checked against the certificate by the caller.
//
// Secrets (the access token, the password, the PIN, every SAD) go only into
// the requests: a message shows the service's error text with any of them
// that it repeats taken out, and the debug log names methods and counts only.
#pragma once

#include <string>
#include <vector>

#include <quillseal/config.h>

#include "core/base/handles.h"
#include "crypto/revocation/http_exchange.h"

namespace qs {

// What credentials/info tells of one credential.
struct CscCredential {
    std::string id;
    X509Ptr cert;                         // the signer's certificate
    X509StackPtr chain;                   // the rest of the chain the service gave
    std::vector<std::string> algorithms;  // signature algorithm OIDs the key allows; empty: not said
    long multisign = 0;                   // signatures one authorisation may cover; 0: not said
};

class CscClient {
public:
    // The service the configuration names, with its configured access token.
    // -1, reported, for limits the configuration gets wrong.
    static int open(SigningConfig &config, CscClient &client);

    ~CscClient();

    // auth/login with cscuser and cscpasswd: the token it returns replaces any.
    int login(SigningConfig &config);
    // info: the service must offer signatures/signHash.
    int check_service(SigningConfig &config);
    // credentials/list: the first credential.
    int first_credential(SigningConfig &config, std::string &id);
    // credentials/info with the whole chain.
    int describe(SigningConfig &config, const std::string &id, CscCredential &credential);
    // credentials/authorize for exactly these hashes (base64), with the PIN
    // when one is configured: sad receives the Signature Activation Data.
    int authorize(SigningConfig &config, const CscCredential &credential, const std::string &hash_oid,
                  const std::vector<std::string> &hashes, std::string &sad);
    // signatures/signHash: values receives the decoded values, as many as the
    // service sent. expired is set (and nothing reported) when the service
    // refused the SAD as expired, which one new authorisation may mend.
    int sign_hashes(SigningConfig &config, const CscCredential &credential, const std::string &sad,
                    const std::string &hash_oid, const std::string &sign_algo,
                    const std::vector<std::string> &hashes, std::vector<std::string> &values, bool &expired);

private:
    struct Reply;
    int call(SigningConfig &config, const char *method, json_object *body, bool basic, Reply &reply);
    int refused(const char *method, const Reply &reply) const;
    std::string without_secrets(std::string text) const;
    void keep_secret(const std::string &secret);

    std::string base_;
    std::string proxy_;
    std::string token_;
    std::string basic_;  // "user:password" for auth/login
    std::string sad_;    // the last SAD granted
    HttpLimits limits_;
    std::vector<std::string> secrets_;
};

// Base64 of bytes, and the bytes of a base64 text (no line breaks); false
// for a text that is not base64.
std::string to_base64(const std::string &bytes);
bool from_base64(const std::string &text, std::string &bytes);

}  // namespace qs
