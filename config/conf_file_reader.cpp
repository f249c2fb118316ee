// The key=value configuration file: each line is matched against the keys in
// their fixed order, and a field keeps the first value found for it.
#include "config/conf_file_reader.h"

#include <sys/stat.h>

#include <cstddef>
#include <cstring>
#include <new>

#include <quillseal/config.h>
#include <quillseal/pdf.h>

#include "config/config_record.h"
#include "config/escapes.h"
#include "config/secret_source.h"
#include "core/base/guard.h"
#include "core/base/text.h"

namespace {

enum class Treatment {
    plain,       // stored, and the line is done
    text,        // signature text: \r and \n converted; other keys still tried
    continues,   // stored as it is; other keys still tried
    stored_hex,  // a secret: its stored form decrypted, or its source read; other keys still tried
    secret,      // a secret: as written, or its source read; the line is done
    subfilter,   // stored, normalised, and the line is done
};

struct Key {
    const char *name;
    std::size_t offset;  // of the field in SigningConfig; certfile is the only pointer
    std::size_t size;
    Treatment treatment;
};

#define QS_FIELD(f) offsetof(SigningConfig, f), sizeof(SigningConfig::f)
constexpr std::size_t kCertfile = static_cast<std::size_t>(-1);

const Key kKeys[] = {
    {"certfile=", kCertfile, qs::kCertfileBuffer, Treatment::plain},
    {"sigrect=", QS_FIELD(sigrect), Treatment::plain},
    {"certstore=", QS_FIELD(certstore), Treatment::plain},
    {"tsacert=", QS_FIELD(tsacert), Treatment::plain},
    {"tsauser=", QS_FIELD(tsauser), Treatment::plain},
    {"tsapasswd=", QS_FIELD(tsapasswd), Treatment::secret},
    {"sigimage=", QS_FIELD(sigimage), Treatment::plain},
    {"sigpage=", QS_FIELD(sigpage), Treatment::plain},
    {"sigtext=", QS_FIELD(sigtext), Treatment::text},
    {"signerpem=", QS_FIELD(signerpem), Treatment::plain},
    {"capem=", QS_FIELD(capem), Treatment::plain},
    {"engine=", QS_FIELD(engine), Treatment::plain},
    {"library=", QS_FIELD(library), Treatment::plain},
    {"extrarange=", QS_FIELD(extrarange), Treatment::plain},
    {"tsaurl=", QS_FIELD(tsaurl), Treatment::continues},
    {"certpasswd=", QS_FIELD(certpasswd), Treatment::stored_hex},
    {"hashalgo=", QS_FIELD(hashalgo), Treatment::plain},
    {"appname=", QS_FIELD(appname), Treatment::plain},
    {"sigcontact=", QS_FIELD(sigcontact), Treatment::plain},
    {"subfilter=", QS_FIELD(subfilter), Treatment::subfilter},
    {"pin=", QS_FIELD(pin), Treatment::stored_hex},
    {"encpermpwd=", QS_FIELD(encpermpwd), Treatment::plain},
    {"encpermprint=", QS_FIELD(encpermprint), Treatment::plain},
    {"encpermchange=", QS_FIELD(encpermchange), Treatment::plain},
    {"encpermcopy=", QS_FIELD(encpermcopy), Treatment::plain},
    {"encpermaccess=", QS_FIELD(encpermaccess), Treatment::plain},
    {"encmetadata=", QS_FIELD(encmetadata), Treatment::plain},
    {"p11url=", QS_FIELD(p11url), Treatment::plain},
    {"cachedir=", QS_FIELD(cachedir), Treatment::plain},
    {"sigfont=", QS_FIELD(sigfont), Treatment::plain},
    {"sigdateformat=", QS_FIELD(sigdateformat), Treatment::plain},
    {"proxyprotocol=", QS_FIELD(proxyprotocol), Treatment::plain},
    {"proxyhost=", QS_FIELD(proxyhost), Treatment::plain},
    {"debug=", QS_FIELD(debug), Treatment::plain},
    {"logfile=", QS_FIELD(logfile), Treatment::plain},
    {"cryptolib=", QS_FIELD(cryptolib), Treatment::plain},
    {"httptimeout=", QS_FIELD(httptimeout), Treatment::plain},
    {"trustca=", QS_FIELD(trustca), Treatment::plain},
    {"keyuri=", QS_FIELD(keyuri), Treatment::plain},
    {"certuri=", QS_FIELD(certuri), Treatment::plain},
    {"provider=", QS_FIELD(provider), Treatment::plain},
    {"providermodule=", QS_FIELD(providermodule), Treatment::plain},
    {"netconcurrency=", QS_FIELD(netconcurrency), Treatment::plain},
    {"cscurl=", QS_FIELD(cscurl), Treatment::plain},
    {"csccredential=", QS_FIELD(csccredential), Treatment::plain},
    {"csctoken=", QS_FIELD(csctoken), Treatment::stored_hex},
    {"cscuser=", QS_FIELD(cscuser), Treatment::plain},
    {"cscpasswd=", QS_FIELD(cscpasswd), Treatment::stored_hex},
    {"cscpin=", QS_FIELD(cscpin), Treatment::stored_hex},
    {"cscbatch=", QS_FIELD(cscbatch), Treatment::plain},
    {"sigfield=", QS_FIELD(sigfield), Treatment::plain},
    {"siglock=", QS_FIELD(siglock), Treatment::plain},
};
#undef QS_FIELD

// The line as the key rules see it: comments are dropped, escapes removed.
bool prepared_line(std::string_view raw, std::string &line) {
    if (raw.empty() || raw.front() == '#') return false;
    line = qs::has_line_escape(raw) ? qs::remove_line_escapes(raw) : std::string(raw);
    return true;
}

// Whether the key found at `at` is only the end of a longer key of the table
// ("pin=" in "cscpin="), which is that key's line, not this one's.
bool ends_longer_key(std::string_view line, std::size_t at, std::string_view key) {
    for (const Key &other : kKeys) {
        const std::string_view name = other.name;
        if (name.size() <= key.size() || name.substr(name.size() - key.size()) != key) continue;
        const std::size_t lead = name.size() - key.size();
        if (at >= lead && line.substr(at - lead, name.size()) == name) return true;
    }
    return false;
}

// The text after key in line up to the first CR or LF; false without the key.
bool value_of(std::string_view line, std::string_view key, std::string_view &value) {
    std::size_t at = line.find(key);
    while (at != std::string_view::npos && ends_longer_key(line, at, key)) at = line.find(key, at + 1);
    if (at == std::string_view::npos) return false;
    value = line.substr(at + key.size());
    value = value.substr(0, value.find_first_of("\r\n"));
    return true;
}

char *field_of(SigningConfig *config, const Key &key) {
    if (key.offset == kCertfile) return config->certfile;
    return reinterpret_cast<char *>(config) + key.offset;
}

bool is_secret(const Key &key) { return key.treatment == Treatment::stored_hex || key.treatment == Treatment::secret; }

// Secrets go through the one reader of secrets, whatever source they name.
void store_value(const Key &key, char *field, std::string_view value) {
    if (is_secret(key)) {
        const std::string_view entry(key.name, std::strlen(key.name) - 1);  // without its "="
        const auto literal =
            key.treatment == Treatment::stored_hex ? qs::SecretLiteral::stored_form : qs::SecretLiteral::as_written;
        qs::read_secret(value, literal, entry, field, key.size);
        return;
    }
    qs::copy_bounded(field, key.size, key.treatment == Treatment::text ? qs::convert_text_escapes(value)
                                                                       : std::string(value));
}

// Values that name a file, a module, a device key or a service, or hold an
// access token: cut short by the line reader they would name some other one.
bool names_a_resource(const Key &key) {
    static const char *const kNames[] = {"certfile=", "tsacert=",  "sigimage=", "signerpem=",
                                         "capem=",    "engine=",   "library=",  "tsaurl=",
                                         "p11url=",   "cachedir=", "sigfont=",  "logfile=",
                                         "cscurl=",   "csccredential=", "csctoken="};
    for (const char *name : kNames)
        if (std::strcmp(key.name, name) == 0) return true;
    return false;
}

// Applies one line piece. False, with the key in refused, when the piece was
// cut by the line reader inside the value of a key that names a resource.
bool apply_line(std::string_view raw, bool cut, SigningConfig *config, const char *&refused) {
    std::string line;
    if (!prepared_line(raw, line)) return true;
    for (const Key &key : kKeys) {
        char *field = field_of(config, key);
        if (field && field[0] != '\0') continue;
        std::string_view value;
        if (!value_of(line, key.name, value)) continue;
        // A cut piece has no line end, so a value found in it runs to the cut.
        if (cut && names_a_resource(key)) {
            refused = key.name;
            return false;
        }
        if (!field) {
            if (!qs::give_empty_certfile(config)) throw std::bad_alloc();
            field = config->certfile;
        }
        store_value(key, field, value);
        if (key.treatment == Treatment::subfilter) validate_sub_filter(field);
        if (key.treatment == Treatment::plain || key.treatment == Treatment::secret ||
            key.treatment == Treatment::subfilter)
            return true;
    }
    return true;
}

}  // namespace

namespace qs {

bool is_secret_entry(std::string_view name) {
    for (const Key &key : kKeys) {
        const std::string_view key_name(key.name);
        if (key_name.substr(0, key_name.size() - 1) == name) return is_secret(key);
    }
    return false;
}

FilePtr open_config_file(const char *path) {
    struct stat info {};
    if (!path || ::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return FilePtr();
    return open_file(path, "rb");
}

std::string config_open_message(const char *path) {
    return format("Error opening file %s... Please provide a config file!", path ? path : "");
}

bool read_config_lines(FILE *stream, std::vector<std::string> &lines, std::vector<bool> *cut) {
    char buffer[kTextField];
    bool previous_full = false;  // the piece before had no line end and filled the buffer
    while (lgets(buffer, sizeof buffer, stream)) {
        lines.emplace_back(buffer);
        const std::string &piece = lines.back();
        const bool ends_line = !piece.empty() && (piece.back() == '\n' || piece.back() == '\r');
        // The piece before was cut only when this one goes on with its text,
        // not when it is just the line end that did not fit.
        if (cut) {
            const bool only_line_end = piece == "\n" || piece == "\r" || piece == "\r\n";
            if (previous_full && !only_line_end) cut->back() = true;
            cut->push_back(false);
        }
        previous_full = !ends_line && piece.size() == sizeof buffer - 1;
    }
    return std::ferror(stream) == 0;
}

}  // namespace qs

extern "C" {

QS_API int read_conf_file(char *path, SigningConfig *config) {
    return qs::guarded([&]() -> int {
        if (path && path[0] == '\0') qs::copy_bounded(path, qs::kTextField, qs::kDefaultConfFile);
        const char *name = path ? path : qs::kDefaultConfFile;
        if (!config) {
            qs::report("No configuration record was given.");
            return -1;
        }
        // All lines are read before any is applied, so a file that fails while
        // being read leaves the record as it was.
        qs::FilePtr file = qs::open_config_file(name);
        std::vector<std::string> lines;
        std::vector<bool> cut;
        if (!file || !qs::read_config_lines(file.get(), lines, &cut)) {
            qs::report(qs::config_open_message(name));
            return -1;
        }
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const char *refused = nullptr;
            if (!apply_line(lines[i], cut[i], config, refused)) {
                // A cut path could name some other file, a cut URL some other service.
                qs::report(qs::format("Error processing configuration file! The line of the entry %s is "
                                      "longer than 255 bytes.",
                                      refused));
                return -1;
            }
        }
        return 0;
    });
}

QS_API int read_conf_file_line(const char *line, const char *key, char *field) {
    return qs::guarded([&]() -> int {
        if (!line || !key || !key[0] || !field || field[0] != '\0') return -1;
        std::string_view value;
        if (!value_of(line, key, value)) return -1;
        qs::copy_bounded(field, qs::kTextField, value);
        return 0;
    });
}

QS_API int read_conf_file_entry(const char *path, const char *key, char *out) {
    return qs::guarded([&]() -> int {
        if (!key || !key[0] || !out) return -1;
        const char *name = path && path[0] ? path : qs::kDefaultConfFile;
        qs::FilePtr file = qs::open_config_file(name);
        std::vector<std::string> lines;
        if (!file || !qs::read_config_lines(file.get(), lines)) return -1;
        for (const std::string &raw : lines) {
            std::string line;
            std::string_view value;
            if (!prepared_line(raw, line) || !value_of(line, key, value)) continue;
            qs::copy_bounded(out, qs::kTextField, value);
            return 0;
        }
        return -1;
    });
}

}  // extern "C"
