// The signer's display name and serial text, read from the key store, from
// the device's signer PEM file, or from a PEM text handed in by a caller.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>

#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "crypto/keys/key_store.h"

namespace {

constexpr std::size_t kSubjectText = 512;

// "/" short name "=" raw value bytes, for every attribute in certificate order.
// An attribute that would no longer fit the subject buffer is left out, so that
// one overlong value does not crowd out the ones after it.
std::string subject_text(X509 *cert) {
    std::string text;
    const X509_NAME *name = X509_get_subject_name(cert);
    for (int i = 0; name && i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY *entry = X509_NAME_get_entry(name, i);
        char long_name[128] = "";
        OBJ_obj2txt(long_name, sizeof long_name, X509_NAME_ENTRY_get_object(entry), 0);
        const char *short_name = OBJ_nid2sn(OBJ_ln2nid(long_name));
        const ASN1_STRING *value = X509_NAME_ENTRY_get_data(entry);
        std::string part = std::string("/") + (short_name ? short_name : "UNDEF") + "=";
        part.append(reinterpret_cast<const char *>(ASN1_STRING_get0_data(value)),
                    static_cast<std::size_t>(ASN1_STRING_length(value)));
        if (text.size() + part.size() < kSubjectText) text += part;
    }
    return text;
}

// Uppercase hex of the serial number, whole bytes, "-" first when negative.
std::string serial_text(X509 *cert) {
    qs::BignumPtr number(ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr));
    qs::OpensslTextPtr hex(number ? BN_bn2hex(number.get()) : nullptr);
    return hex ? std::string(hex.get()) : std::string();
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string upper(std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The value of the first "name=" in the subject text (then "name" lower- and
// upper-cased), up to the next "/", else the next ",", else the end.
bool find_component(const std::string &subject, const std::string &name, std::string &value) {
    std::size_t at = std::string::npos;
    std::string key;
    for (const std::string &spelling : {name, lower(name), upper(name)}) {
        key = spelling + "=";
        at = subject.find(key);
        if (at != std::string::npos) break;
    }
    if (at == std::string::npos) return false;
    const std::size_t start = at + key.size();
    std::size_t end = subject.find('/', start);
    if (end == std::string::npos) end = subject.find(',', start);
    value = subject.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return true;
}

std::string display_name(const std::string &subject) {
    std::string value;
    if (find_component(subject, "CN", value)) return value;
    if (find_component(subject, "GN", value)) {
        std::string surname;
        if (find_component(subject, "SN", surname)) value += " " + surname;
        return value;
    }
    for (const char *name : {"emailAddress", "O", "OU"})
        if (find_component(subject, name, value)) return value;
    return std::string();
}

int read_pkcs12_certificate(int certfiledata, const char *certfile, const char *certpasswd,
                            qs::X509Ptr &cert) {
    qs::KeyMaterial keys;
    qs::Pkcs12Source source;
    source.certfiledata = certfiledata;
    source.certfile = certfile;
    source.certpasswd = certpasswd;
    source.buffer_message = "Error in BIO_write()...";
    if (qs::load_pkcs12(source, keys) < 0) return -1;
    cert = std::move(keys.cert);
    return 0;
}

int read_pem_certificate(const char *path, qs::X509Ptr &cert) {
    bool not_regular = false;
    qs::FilePtr file = qs::open_regular_file(path ? path : "", not_regular);
    cert.reset(file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!cert) {
        ERR_clear_error();
        qs::report(qs::format("Problem reading signer certificate from %s file", path ? path : ""));
        return -1;
    }
    return 0;
}

char *new_text_field() { return static_cast<char *>(std::calloc(1, qs::kTextField)); }

// Hands out two fresh 256-byte buffers; false (nothing handed out) when out of memory.
bool allocate_outputs(char **name, char **serial) {
    std::unique_ptr<char, qs::CDeleter<void, qs::free_c_buffer>> n(new_text_field()), s(new_text_field());
    if (!n || !s) {
        qs::report("Out of memory for the signer information.");
        return false;
    }
    *name = n.release();
    *serial = s.release();
    return true;
}

int name_and_serial(X509 *cert, char *name, char *serial) {
    char subject[kSubjectText] = "";
    get_x509_subject_and_sn_from_openssl_cert(cert, subject, serial);
    return get_x509_subject_name(subject, name);
}

}  // namespace

extern "C" {

QS_API int get_x509_subject_and_sn_from_openssl_cert(X509 *certificate, char *subject, char *serial) {
    return qs::guarded([&]() -> int {
        if (subject) subject[0] = '\0';
        if (serial) serial[0] = '\0';
        if (!certificate) return 0;
        if (subject) qs::copy_bounded(subject, kSubjectText, subject_text(certificate));
        if (serial) qs::copy_bounded(serial, qs::kTextField, serial_text(certificate));
        return 0;
    });
}

QS_API int get_x509_subject_and_sn(int certfiledata, const char *certfile, const char *certpasswd,
                                   const char *signerpem, const char *certstore, char *subject,
                                   char *serial) {
    return qs::guarded([&]() -> int {
        qs::X509Ptr cert;
        const bool device = certstore && std::strcmp(certstore, qs::kPkcs11Device) == 0;
        const int rc = device ? read_pem_certificate(signerpem, cert)
                              : read_pkcs12_certificate(certfiledata, certfile, certpasswd, cert);
        if (rc < 0) return -1;
        return get_x509_subject_and_sn_from_openssl_cert(cert.get(), subject, serial);
    });
}

QS_API int get_x509_subject_component(const char *subject, char *value, const char *name) {
    return qs::guarded([&]() -> int {
        std::string found;
        const bool ok = subject && name && find_component(subject, name, found);
        if (value) qs::copy_bounded(value, qs::kTextField, ok ? found : std::string());
        return ok ? 0 : -1;
    });
}

QS_API int get_x509_subject_name(const char *subject, char *name) {
    return qs::guarded([&]() -> int {
        if (name) qs::copy_bounded(name, qs::kTextField, display_name(subject ? subject : ""));
        return 0;
    });
}

QS_API int get_signer_info_internal(SigningConfig *config, char **name, char **serial) {
    return qs::guarded([&]() -> int {
        if (!name || !serial) {
            qs::report("No place for the signer information.");
            return -1;
        }
        *name = *serial = nullptr;
        if (!allocate_outputs(name, serial)) return -1;
        if (!config) {
            qs::report("Missing configuration.");
            return -1;
        }
        // A remote signing service describes its credential's certificate.
        if (qs::is_remote_store(*config)) {
            qs::KeyMaterial keys;
            if (qs::load_signer_keys(config, keys) < 0) return -1;
            return name_and_serial(keys.cert.get(), *name, *serial);
        }
        char subject[kSubjectText] = "";
        if (qs::is_openssl_store(*config)) {
            // The certificate may be in the key's store, which opens with the key.
            qs::KeyMaterial keys;
            if (qs::load_signer_keys(config, keys) < 0) return -1;
            get_x509_subject_and_sn_from_openssl_cert(keys.cert.get(), subject, *serial);
        } else if (get_x509_subject_and_sn(config->certfiledata, config->certfile, config->certpasswd,
                                           config->signerpem, config->certstore, subject, *serial) < 0) {
            return -1;
        }
        return get_x509_subject_name(subject, *name);
    });
}

QS_API int get_signer_info(const char *configuration, char **name, char **serial) {
    return qs::guarded([&]() -> int {
        SigningConfig *raw = nullptr;
        const int rc = read_config(configuration ? configuration : "", &raw);
        std::unique_ptr<SigningConfig, decltype(&free_config)> config(raw, &free_config);
        if (rc < 0) return rc;
        return get_signer_info_internal(config.get(), name, serial);
    });
}

QS_API int get_signer_info_from_pem_certificate(const char *pem, char **name, char **serial) {
    return qs::guarded([&]() -> int {
        if (!name || !serial) {
            qs::report("No place for the signer information.");
            return -1;
        }
        *name = *serial = nullptr;
        const std::size_t length = pem ? std::strlen(pem) : 0;
        qs::BioPtr mem(BIO_new(BIO_s_mem()));
        if (!mem || length == 0 || BIO_write(mem.get(), pem, static_cast<int>(length)) <= 0) {
            qs::report("Error in BIO_write()....");
            return -1;
        }
        qs::X509Ptr cert(PEM_read_bio_X509(mem.get(), nullptr, nullptr, nullptr));
        if (!cert) {
            ERR_clear_error();
            qs::report("Problem reading signer certificate from stream...");
            return -1;
        }
        if (!allocate_outputs(name, serial)) return -1;
        return name_and_serial(cert.get(), *name, *serial);
    });
}

}  // extern "C"
