#include "crypto/keys/csc_client.h"

#include <cctype>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <quillseal/core.h>

#include "core/base/guard.h"
#include "core/base/text.h"
#include "core/base/version.h"

namespace qs {
namespace {

// A reply of a remote signing service is small JSON: a chain, or a batch of
// signature values.
constexpr std::size_t kLargestReply = 4u << 20;

// A fixed text field of the record, read no further than its size.
template <std::size_t N>
std::string field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

const char *string_member(json_object *object, const char *name) {
    json_object *member = nullptr;
    if (!json_object_object_get_ex(object, name, &member) || !json_object_is_type(member, json_type_string))
        return nullptr;
    return json_object_get_string(member);
}

// The strings of an array member; false when the member is no array of strings.
bool strings_member(json_object *object, const char *name, std::vector<std::string> &out) {
    json_object *member = nullptr;
    if (!json_object_object_get_ex(object, name, &member) || !json_object_is_type(member, json_type_array))
        return false;
    for (std::size_t i = 0; i < json_object_array_length(member); ++i) {
        json_object *item = json_object_array_get_idx(member, i);
        if (!json_object_is_type(item, json_type_string)) return false;
        out.emplace_back(json_object_get_string(item), static_cast<std::size_t>(json_object_get_string_len(item)));
    }
    return true;
}

json_object *object_member(json_object *object, const char *name) {
    json_object *member = nullptr;
    return json_object_object_get_ex(object, name, &member) && json_object_is_type(member, json_type_object)
               ? member
               : nullptr;
}

// The whole text as one JSON object, or null.
JsonPtr parse_object(const std::vector<unsigned char> &body) {
    using TokenerPtr = std::unique_ptr<json_tokener, decltype(&json_tokener_free)>;
    TokenerPtr tokener(json_tokener_new(), &json_tokener_free);
    if (!tokener || body.empty() || body.size() > kLargestReply) return nullptr;
    JsonPtr root(json_tokener_parse_ex(tokener.get(), reinterpret_cast<const char *>(body.data()),
                                       static_cast<int>(body.size())));
    if (!root || json_tokener_get_error(tokener.get()) != json_tokener_success ||
        json_tokener_get_parse_end(tokener.get()) != body.size() || !json_object_is_type(root.get(), json_type_object))
        return nullptr;
    return root;
}

JsonPtr new_object() {
    JsonPtr object(json_object_new_object());
    if (!object) throw std::bad_alloc();
    return object;
}

void put(json_object *object, const char *name, json_object *value) {
    if (!value || json_object_object_add(object, name, value) != 0) {
        json_object_put(value);
        throw std::bad_alloc();
    }
}

void put_string(json_object *object, const char *name, const std::string &value) {
    put(object, name, json_object_new_string_len(value.data(), static_cast<int>(value.size())));
}

void put_strings(json_object *object, const char *name, const std::vector<std::string> &values) {
    JsonPtr array(json_object_new_array());
    if (!array) throw std::bad_alloc();
    for (const std::string &value : values)
        if (json_object_array_add(array.get(), json_object_new_string_len(value.data(), static_cast<int>(value.size()))) != 0)
            throw std::bad_alloc();
    put(object, name, array.release());
}

// A text that held a secret: wiped before its memory goes.
struct Wiped {
    std::string text;
    ~Wiped() { OPENSSL_cleanse(text.data(), text.size()); }
};

X509Ptr certificate_of(const std::string &base64) {
    std::string der;
    if (!from_base64(base64, der)) return nullptr;
    const auto *cursor = reinterpret_cast<const unsigned char *>(der.data());
    X509Ptr cert(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (cert && cursor != reinterpret_cast<const unsigned char *>(der.data()) + der.size()) cert.reset();
    return cert;
}

// The text a service wrote, on one line of printable characters and short.
std::string printable(std::string text) {
    if (text.size() > 120) text = text.substr(0, 117) + "...";
    for (char &ch : text)
        if (std::iscntrl(static_cast<unsigned char>(ch))) ch = ' ';
    return text;
}

}  // namespace

std::string to_base64(const std::string &bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()),
                                       reinterpret_cast<const unsigned char *>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return text;
}

bool from_base64(const std::string &text, std::string &bytes) {
    bytes.clear();
    if (text.size() % 4 != 0 || text.size() > kLargestReply) return false;
    if (text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") !=
        std::string::npos)
        return false;
    const std::size_t padding = text.size() - std::min(text.size(), text.find_last_not_of('=') + 1);
    if (padding > 2 || text.find('=') < text.size() - padding) return false;
    bytes.resize(text.size() / 4 * 3);
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(bytes.data()),
                                       reinterpret_cast<const unsigned char *>(text.data()), static_cast<int>(text.size()));
    if (length < 0 || static_cast<std::size_t>(length) < padding) return false;
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return true;
}

struct CscClient::Reply {
    bool may_expire = false;  // a refused SAD may be renewed: its refusal as expired is not reported
    bool expired = false;     // the service refused the SAD as expired
    long status = 0;
    JsonPtr body;  // the reply as a JSON object; null when it is none
};

int CscClient::open(SigningConfig &config, CscClient &client) {
    if (!http_limits(config, client.limits_)) return -1;
    client.limits_.max_body = kLargestReply;
    client.base_ = field(config.cscurl);
    while (!client.base_.empty() && client.base_.back() == '/') client.base_.pop_back();
    // The proxy as every other exchange of the library is given it.
    client.proxy_ = http_request_of_kind(config, client.base_, HttpKind::Ocsp, nullptr, 0).proxy;
    client.token_ = field(config.csctoken);
    client.basic_ = field(config.cscuser) + ":" + field(config.cscpasswd);
    // The basic credentials travel as base64 in a header the service could repeat.
    for (const std::string &secret : {client.token_, field(config.cscpasswd), field(config.cscpin)})
        client.keep_secret(secret);
    if (config.cscuser[0] != '\0') client.keep_secret(to_base64(client.basic_));
    return 0;
}

CscClient::~CscClient() {
    OPENSSL_cleanse(token_.data(), token_.size());
    OPENSSL_cleanse(basic_.data(), basic_.size());
    OPENSSL_cleanse(sad_.data(), sad_.size());
    for (std::string &secret : secrets_) OPENSSL_cleanse(secret.data(), secret.size());
}

void CscClient::keep_secret(const std::string &secret) {
    if (!secret.empty()) secrets_.push_back(secret);
}

// Every secret the service could repeat, taken out of its text; a text that
// holds a secret too short to take out safely is not shown at all (empty).
std::string CscClient::without_secrets(std::string text) const {
    std::vector<std::string_view> all(secrets_.begin(), secrets_.end());
    if (!sad_.empty()) all.push_back(sad_);
    for (std::string_view secret : all) {
        if (secret.size() < 4) {
            if (text.find(secret) != std::string::npos) return std::string();
            continue;
        }
        for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at))
            text.replace(at, secret.size(), "***");
    }
    return text;
}

int CscClient::call(SigningConfig &config, const char *method, json_object *body, bool basic, Reply &reply) {
    Wiped request{json_object_to_json_string_ext(body, JSON_C_TO_STRING_PLAIN)};
    Wiped authorization{basic || token_.empty() ? std::string() : "Authorization: Bearer " + token_};
    HttpRequest http;
    http.url = base_ + "/" + method;
    http.body = reinterpret_cast<const unsigned char *>(request.text.data());
    http.body_length = request.text.size();
    http.headers = {format("User-Agent: Quillseal %s", kVersion), "Content-Type: application/json",
                    "Accept: application/json"};
    if (!authorization.text.empty()) http.headers.push_back(authorization.text);
    if (basic) http.credentials = basic_;
    http.proxy = proxy_;
    HttpReply received;
    const int rc = http_exchange(http, limits_, received);
    if (!authorization.text.empty()) OPENSSL_cleanse(http.headers.back().data(), http.headers.back().size());
    OPENSSL_cleanse(http.credentials.data(), http.credentials.size());
    if (rc < 0) return -1;
    handle_debug_message(&config, format("Remote signing service: %s answered with HTTP %ld", method,
                                         received.status).c_str());
    reply.status = received.status;
    reply.body = parse_object(received.body);
    if (reply.status != 200 && reply.may_expire) {
        const char *description = reply.body ? string_member(reply.body.get(), "error_description") : nullptr;
        reply.expired = reply.status == 400 && description && strcasestr(description, "expired");
        if (reply.expired) return -1;
    }
    if (reply.status != 200) return refused(method, reply);
    if (!reply.body) {
        report(format("The remote signing service answered %s with something that is not JSON [URL: %s]", method,
                      shown_url(http.url).c_str()));
        return -1;
    }
    return 0;
}

// The failure line of a refused method, with the service's own error and
// description when it sent them.
int CscClient::refused(const char *method, const Reply &reply) const {
    std::string said;
    const char *error = reply.body ? string_member(reply.body.get(), "error") : nullptr;
    const char *description = reply.body ? string_member(reply.body.get(), "error_description") : nullptr;
    if (error) said += std::string(": ") + error;
    if (description) said += std::string(": ") + description;
    if (!said.empty()) {
        said = without_secrets(said);
        said = said.empty() ? ": (the service's text is withheld)" : printable(said);
    }
    const long status = reply.status;
    const char *what = status == 401   ? "did not accept the access token or the login"
                       : status == 403 ? "denied access"
                       : status >= 500 ? "failed"
                                       : "refused the request";
    report(format("The remote signing service %s (HTTP %ld%s) [URL: %s]", what, status, said.c_str(),
                  shown_url(base_ + "/" + method).c_str()));
    return -1;
}

int CscClient::login(SigningConfig &config) {
    JsonPtr body = new_object();
    put(body.get(), "rememberMe", json_object_new_boolean(0));
    Reply reply;
    if (call(config, "auth/login", body.get(), true, reply) < 0) return -1;
    const char *token = string_member(reply.body.get(), "access_token");
    if (!token || !*token) {
        report("The remote signing service's login gave no access token.");
        return -1;
    }
    OPENSSL_cleanse(token_.data(), token_.size());
    token_ = token;
    keep_secret(token_);
    return 0;
}

int CscClient::check_service(SigningConfig &config) {
    JsonPtr body = new_object();
    Reply reply;
    if (call(config, "info", body.get(), false, reply) < 0) return -1;
    std::vector<std::string> methods;
    if (!strings_member(reply.body.get(), "methods", methods)) return 0;  // not said: tried all the same
    for (const std::string &m : methods)
        if (m == "signatures/signHash") return 0;
    report("The remote signing service does not offer signatures/signHash.");
    return -1;
}

int CscClient::first_credential(SigningConfig &config, std::string &id) {
    JsonPtr body = new_object();
    Reply reply;
    if (call(config, "credentials/list", body.get(), false, reply) < 0) return -1;
    std::vector<std::string> ids;
    if (!strings_member(reply.body.get(), "credentialIDs", ids) || ids.empty() || ids.front().empty()) {
        report("The remote signing service lists no credential for this account.");
        return -1;
    }
    id = ids.front();
    return 0;
}

int CscClient::describe(SigningConfig &config, const std::string &id, CscCredential &credential) {
    JsonPtr body = new_object();
    put_string(body.get(), "credentialID", id);
    put_string(body.get(), "certificates", "chain");
    Reply reply;
    if (call(config, "credentials/info", body.get(), false, reply) < 0) return -1;
    json_object *cert = object_member(reply.body.get(), "cert");
    json_object *key = object_member(reply.body.get(), "key");
    std::vector<std::string> certificates;
    if (!cert || !strings_member(cert, "certificates", certificates) || certificates.empty()) {
        report(format("The remote signing service gave no certificate for the credential %s.", shown(id).c_str()));
        return -1;
    }
    const char *status = key ? string_member(key, "status") : nullptr;
    if (status && std::strcmp(status, "enabled") != 0) {
        report(format("The key of the credential %s is %s at the remote signing service.", shown(id).c_str(),
                      shown(status).c_str()));
        return -1;
    }
    credential.id = id;
    credential.chain.reset(sk_X509_new_null());
    if (!credential.chain) throw std::bad_alloc();
    for (std::size_t i = 0; i < certificates.size(); ++i) {
        X509Ptr x = certificate_of(certificates[i]);
        if (!x) {
            report("The remote signing service sent a certificate that is not base64 DER.");
            return -1;
        }
        if (i == 0)
            credential.cert = std::move(x);
        else if (sk_X509_push(credential.chain.get(), x.get()))
            x.release();
    }
    if (key) strings_member(key, "algo", credential.algorithms);
    json_object *multisign = nullptr;
    if (json_object_object_get_ex(reply.body.get(), "multisign", &multisign) &&
        json_object_is_type(multisign, json_type_int))
        credential.multisign = static_cast<long>(json_object_get_int64(multisign));
    return 0;
}

int CscClient::authorize(SigningConfig &config, const CscCredential &credential, const std::string &hash_oid,
                         const std::vector<std::string> &hashes, std::string &sad) {
    JsonPtr body = new_object();
    put_string(body.get(), "credentialID", credential.id);
    put(body.get(), "numSignatures", json_object_new_int64(static_cast<int64_t>(hashes.size())));
    put_strings(body.get(), "hashes", hashes);
    put_string(body.get(), "hashAlgorithmOID", hash_oid);
    if (config.cscpin[0] != '\0') put_string(body.get(), "PIN", field(config.cscpin));
    Reply reply;
    if (call(config, "credentials/authorize", body.get(), false, reply) < 0) return -1;
    const char *granted = string_member(reply.body.get(), "SAD");
    if (!granted || !*granted) {
        report("The remote signing service's authorisation gave no SAD.");
        return -1;
    }
    OPENSSL_cleanse(sad_.data(), sad_.size());
    sad_ = granted;
    sad = sad_;
    return 0;
}

int CscClient::sign_hashes(SigningConfig &config, const CscCredential &credential, const std::string &sad,
                           const std::string &hash_oid, const std::string &sign_algo,
                           const std::vector<std::string> &hashes, std::vector<std::string> &values, bool &expired) {
    JsonPtr body = new_object();
    put_string(body.get(), "credentialID", credential.id);
    put_string(body.get(), "SAD", sad);
    put_strings(body.get(), "hashes", hashes);
    put_string(body.get(), "hashAlgorithmOID", hash_oid);
    put_string(body.get(), "signAlgo", sign_algo);
    Reply reply;
    reply.may_expire = true;
    const int rc = call(config, "signatures/signHash", body.get(), false, reply);
    expired = reply.expired;
    if (rc < 0) return -1;
    std::vector<std::string> encoded;
    if (!strings_member(reply.body.get(), "signatures", encoded)) {
        report("The remote signing service's reply holds no list of signatures.");
        return -1;
    }
    values.clear();
    for (const std::string &text : encoded) {
        std::string value;
        if (!from_base64(text, value)) {
            report("The remote signing service sent a signature value that is not base64.");
            return -1;
        }
        values.push_back(std::move(value));
    }
    return 0;
}

}  // namespace qs
