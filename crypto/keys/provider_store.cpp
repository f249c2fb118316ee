#include "crypto/keys/provider_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/provider.h>

#include <quillseal/core.h>
#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "core/base/input_file.h"
#include "core/base/openssl_errors.h"
#include "core/base/text.h"
#include "crypto/keys/device_settings.h"

namespace qs {
namespace {

// The store opened for one set of settings. The library context is declared
// first, so that the key and certificate it made go before it.
struct OpenStore {
    LibCtxPtr context;
    EvpPkeyPtr key;
    X509Ptr cert;  // from certuri or the key's store; none when signerpem gives it
    std::string settings;
};

// Process-wide, like the engine: one signing runs at a time per process. Plain
// pointers on purpose: nothing of the device is released by the exit
// handlers, when the device module may be half torn down already.
OpenStore *open_store = nullptr;
std::vector<std::pair<std::string, std::string>> *refused = nullptr;  // settings, and what was reported
const UI_METHOD *prompting_method = nullptr;                          // the default while a store is open

constexpr const char *kProviderName = "quillseal_device";

// A URI as a message shows it: its query (which may carry pin-value) is left out.
std::string shown_uri(const char *uri) {
    std::string_view text(uri);
    const std::size_t query = text.find('?');
    return shown(text.substr(0, query), 80) + (query == std::string_view::npos ? "" : "?...");
}

// OpenSSL's reasons, unless they would show the PIN.
std::string reasons(const SigningConfig *config) {
    std::string why = openssl_errors();
    const bool shows_pin = (config->pin[0] && why.find(config->pin) != std::string::npos) ||
                           why.find("pin-value") != std::string::npos;
    if (shows_pin) why = "reasons withheld";
    return why.empty() ? "" : " [" + why + "]";
}

// A value in OpenSSL's configuration syntax: every character that is not a
// letter or digit escaped, so that quotes, "$" and "#" stay what they are.
std::string conf_value(const char *value) {
    std::string out;
    for (const char *p = value; *p; ++p) {
        if (!std::isalnum(static_cast<unsigned char>(*p))) out += '\\';
        out += *p;
    }
    return out;
}

bool is_provider_name(const char *name) {
    for (const char *p = name; *p; ++p)
        if (!std::isalnum(static_cast<unsigned char>(*p)) && *p != '_' && *p != '-' && *p != '.') return false;
    return true;
}

// The name the configured provider is loaded under: its own, or ours for a
// module path; null when only the default provider is wanted.
const char *extra_provider(const SigningConfig *config) {
    if (!config->provider[0] || std::strcmp(config->provider, "default") == 0) return nullptr;
    return std::strchr(config->provider, '/') ? kProviderName : config->provider;
}

// The configuration that loads the default provider and the configured one
// (by name, or from a module path) with the PKCS#11 module it drives.
std::string provider_configuration(const SigningConfig *config) {
    std::string text = "quillseal = quillseal_init\n[quillseal_init]\nproviders = quillseal_providers\n"
                       "[quillseal_providers]\ndefault = quillseal_default\n";
    const char *extra = extra_provider(config);
    if (extra) text += std::string(extra) + " = quillseal_device\n";
    text += "[quillseal_default]\nactivate = 1\n";
    if (!extra) return text;
    text += "[quillseal_device]\nactivate = 1\n";
    if (extra == kProviderName) text += "module = " + conf_value(config->provider) + "\n";
    if (config->providermodule[0]) text += "pkcs11-module-path = " + conf_value(config->providermodule) + "\n";
    return text;
}

// A library context with the providers loaded; nothing after reporting why.
LibCtxPtr load_providers(const SigningConfig *config) {
    if (config->provider[0] && !std::strchr(config->provider, '/') && !is_provider_name(config->provider)) {
        report(format("The provider %s is neither a provider name nor a module path.", shown(config->provider).c_str()));
        return nullptr;
    }
    struct stat info {};
    if (config->providermodule[0]) {
        const char *problem = ::stat(config->providermodule, &info) != 0 ? std::strerror(errno)
                              : !S_ISREG(info.st_mode)                  ? "not a regular file"
                                                                        : nullptr;
        if (problem) {
            report(format("The PKCS#11 module %s (providermodule) cannot be used: %s",
                          shown(config->providermodule, 80).c_str(), problem));
            return nullptr;
        }
    }
    LibCtxPtr context(OSSL_LIB_CTX_new());
    ConfPtr conf(context ? NCONF_new_ex(context.get(), nullptr) : nullptr);
    const std::string text = provider_configuration(config);
    BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    long line = 0;
    const char *extra = extra_provider(config);
    // A provider that cannot be activated may leave the configuration loaded
    // without it: asking for it by name tells.
    if (!conf || !bio || NCONF_load_bio(conf.get(), bio.get(), &line) <= 0 ||
        CONF_modules_load(conf.get(), "quillseal", 0) <= 0 ||
        (extra && OSSL_PROVIDER_available(context.get(), extra) != 1)) {
        const std::string name = config->provider[0] ? config->provider : "default";
        const std::string from = extra == kProviderName ? "" : std::string(" from ") + OPENSSL_info(OPENSSL_INFO_MODULES_DIR);
        report(format("The provider %s could not be loaded%s%s", shown(name, 80).c_str(), from.c_str(),
                      reasons(config).c_str()));
        return nullptr;
    }
    return context;
}

// Answers the store's request for the PIN with the configured one (its user
// data); every other request gets nothing, so no prompt is ever shown.
int answer_pin(UI *ui, UI_STRING *request) {
    const auto type = UI_get_string_type(request);
    if (type != UIT_PROMPT && type != UIT_VERIFY) return 1;
    const char *pin = static_cast<const char *>(UI_get0_user_data(ui));
    return pin && pin[0] && UI_set_result(ui, request, pin) >= 0 ? 1 : 0;
}

// The first object of the expected type at uri (a key or a certificate), or
// nothing. With an empty PIN no PIN is given, and no login is sent.
StoreInfoPtr first_object(OSSL_LIB_CTX *context, const char *uri, const char *pin, int expected) {
    UiMethodPtr answering(UI_create_method("quillseal PIN"));
    if (!answering || UI_method_set_reader(answering.get(), answer_pin) != 0) return nullptr;
    UI_METHOD *method = pin[0] ? answering.get() : const_cast<UI_METHOD *>(UI_null());
    StoreCtxPtr store(OSSL_STORE_open_ex(uri, context, nullptr, method, const_cast<char *>(pin), nullptr, nullptr,
                                         nullptr));
    if (!store || OSSL_STORE_expect(store.get(), expected) != 1) return nullptr;
    while (!OSSL_STORE_eof(store.get())) {
        StoreInfoPtr info(OSSL_STORE_load(store.get()));
        if (info && OSSL_STORE_INFO_get_type(info.get()) == expected) return info;
        if (!info && OSSL_STORE_error(store.get())) break;
    }
    return nullptr;
}

// The key's own store asked for its certificate: a pkcs11: URI with type=cert
// in place of its type, any other URI as it is.
std::string certificate_uri_of(const char *keyuri) {
    std::string uri(keyuri);
    if (uri.rfind("pkcs11:", 0) != 0) return uri;
    const std::size_t query_at = uri.find('?');
    const std::string query = query_at == std::string::npos ? "" : uri.substr(query_at);
    std::string path = uri.substr(7, query_at == std::string::npos ? std::string::npos : query_at - 7);
    std::string kept;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(';', start), path.size());
        const std::string attribute = path.substr(start, end - start);
        if (!attribute.empty() && attribute.rfind("type=", 0) != 0) kept += (kept.empty() ? "" : ";") + attribute;
        start = end + 1;
    }
    return "pkcs11:" + kept + (kept.empty() ? "" : ";") + "type=cert" + query;
}

// Opens the key (and the certificate, unless signerpem gives it) for these
// settings; nothing after reporting why.
std::unique_ptr<OpenStore> open_keys(SigningConfig *config) {
    auto opened = std::make_unique<OpenStore>();
    opened->context = load_providers(config);
    if (!opened->context) return nullptr;
    StoreInfoPtr key = first_object(opened->context.get(), config->keyuri, config->pin, OSSL_STORE_INFO_PKEY);
    if (key) opened->key.reset(OSSL_STORE_INFO_get1_PKEY(key.get()));
    if (!opened->key) {
        report(format("No private key could be opened at %s%s", shown_uri(config->keyuri).c_str(),
                      reasons(config).c_str()));
        return nullptr;
    }
    if (config->certuri[0] || !config->signerpem[0]) {
        const std::string uri = config->certuri[0] ? config->certuri : certificate_uri_of(config->keyuri);
        StoreInfoPtr cert = first_object(opened->context.get(), uri.c_str(), config->pin, OSSL_STORE_INFO_CERT);
        if (cert) opened->cert.reset(OSSL_STORE_INFO_get1_CERT(cert.get()));
        if (!opened->cert) {
            report(format("No certificate could be read at %s%s%s", shown_uri(uri.c_str()).c_str(),
                          config->certuri[0] ? "" : " (give certuri or signerpem)", reasons(config).c_str()));
            return nullptr;
        }
    }
    ERR_clear_error();
    return opened;
}

void forget_open_store() {
    delete open_store;  // the key and certificate, then the library context with its providers
    open_store = nullptr;
    ERR_clear_error();
}

// The store for these settings, opened unless it is open already; null after
// a report. Settings that failed are not tried again before shutdown.
OpenStore *store_for(SigningConfig *config) {
    const std::string settings =
        settings_fingerprint({config->provider, config->providermodule, config->keyuri, config->certuri, config->pin});
    if (open_store && open_store->settings == settings) return open_store;
    if (!refused) refused = new std::vector<std::pair<std::string, std::string>>();
    for (const auto &[failed, message] : *refused) {
        if (failed != settings) continue;
        handle_debug_message(config, "these store settings failed before; they are not tried again until shutdown");
        report(message);
        return nullptr;
    }
    // A session logged in with other settings never signs for these.
    forget_open_store();
    if (!prompting_method) prompting_method = UI_get_default_method();
    UI_set_default_method(UI_null());  // nothing in the store or provider may prompt
    handle_debug_message(config, "opening the key store through OpenSSL's store interface");
    std::unique_ptr<OpenStore> opened;
    {
        ToleratedFailure attempt;
        opened = open_keys(config);
        if (!opened) {
            std::string why = attempt.take();
            if (why.empty()) why = "The key store could not be opened.";
            handle_debug_message(config, ("the key store could not be opened: " + why).c_str());
            refused->emplace_back(settings, why);
            report(why);
            return nullptr;
        }
    }
    opened->settings = settings;
    open_store = opened.release();
    handle_debug_message(config, "opened the key store");
    return open_store;
}

template <typename T, int (*UpRef)(T *)>
T *share(T *object) {
    return object && UpRef(object) == 1 ? object : nullptr;
}

}  // namespace

int load_store_keys(SigningConfig *config, KeyMaterial &out) {
    OpenStore *store = store_for(config);
    if (!store) return -1;
    out.key.reset(share<EVP_PKEY, EVP_PKEY_up_ref>(store->key.get()));
    if (store->cert) {
        out.cert.reset(share<X509, X509_up_ref>(store->cert.get()));
    } else {
        bool not_regular = false;
        FilePtr pem = open_regular_file(config->signerpem, not_regular);
        out.cert.reset(pem ? PEM_read_X509(pem.get(), nullptr, nullptr, nullptr) : nullptr);
    }
    if (!out.key || !out.cert) {
        ERR_clear_error();
        report("Error: PEM_read_bio_X509() returned NULL cert...");
        return -1;
    }
    // -2: the key's provider cannot compare; the signature then shows it.
    const int same = EVP_PKEY_eq(X509_get0_pubkey(out.cert.get()), out.key.get());
    ERR_clear_error();
    if (same != 1 && same != -2) {
        report(format("The signer's certificate does not belong to the key at %s.", shown_uri(config->keyuri).c_str()));
        return -1;
    }
    out.chain.reset(config->capem[0] ? loadca(config->capem) : sk_X509_new_null());
    if (!out.chain) {
        report("Error: the CA file is empty...");
        return -1;
    }
    return 0;
}

void release_provider_store() {
    forget_open_store();
    if (prompting_method) UI_set_default_method(prompting_method);
    prompting_method = nullptr;
    delete refused;
    refused = nullptr;
}

}  // namespace qs
