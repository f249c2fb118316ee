// The JSON configuration: its string members fill the record before the
// key=value file is read, so they take precedence over it.
#include "config/json_reader.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "config/conf_file_reader.h"
#include "config/config_record.h"
#include "config/secret_source.h"
#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"

namespace {

struct Member {
    const char *name;
    std::size_t offset;
    std::size_t size;
};

#define QS_MEMBER(f) {#f, offsetof(SigningConfig, f), sizeof(SigningConfig::f)}
// "certfile" is kept whole and handled on its own; "slotindex" and "certid"
// are accepted and have no field.
const Member kMembers[] = {
    QS_MEMBER(conffile),   QS_MEMBER(certpasswd), QS_MEMBER(sigrect),   QS_MEMBER(sigimage),
    QS_MEMBER(tsaurl),     QS_MEMBER(sigpage),    QS_MEMBER(pin),       QS_MEMBER(signerpem),
    QS_MEMBER(capem),      QS_MEMBER(engine),     QS_MEMBER(certstore), QS_MEMBER(library),
    QS_MEMBER(extrarange), QS_MEMBER(sigtext),    QS_MEMBER(tsacert),   QS_MEMBER(tsauser),
    QS_MEMBER(tsapasswd),  QS_MEMBER(hashalgo),   QS_MEMBER(appname),   QS_MEMBER(sigcontact),
    QS_MEMBER(usinggui),   QS_MEMBER(subfilter),  QS_MEMBER(httptimeout), QS_MEMBER(trustca),
    QS_MEMBER(keyuri),     QS_MEMBER(certuri),    QS_MEMBER(provider),  QS_MEMBER(providermodule),
    QS_MEMBER(netconcurrency),
    QS_MEMBER(cscurl),     QS_MEMBER(csccredential), QS_MEMBER(csctoken), QS_MEMBER(cscuser),
    QS_MEMBER(cscpasswd),  QS_MEMBER(cscpin),     QS_MEMBER(cscbatch),
    QS_MEMBER(sigfield),   QS_MEMBER(siglock),
};
#undef QS_MEMBER

const Member *member_named(std::string_view name) {
    for (const Member &m : kMembers)
        if (name == m.name) return &m;
    return nullptr;
}

// A copy of the whole text, in a buffer that a key=value line could also fill.
char *whole_copy(std::string_view text) {
    const std::size_t size = text.size() + 1 > qs::kCertfileBuffer ? text.size() + 1 : qs::kCertfileBuffer;
    char *copy = static_cast<char *>(std::calloc(1, size));
    if (!copy) throw std::bad_alloc();
    std::memcpy(copy, text.data(), text.size());
    return copy;
}

void note_cut_path(std::string_view path, bool whole, std::string *too_long) {
    if (!whole && too_long) too_long->assign(path);
}

void store_member(SigningConfig *config, std::string_view name, std::string_view value, std::string *too_long) {
    if (name == "certfile") {
        qs::set_certfile(config, whole_copy(value));
        return;
    }
    const Member *member = member_named(name);
    if (!member) return;
    char *field = reinterpret_cast<char *>(config) + member->offset;
    // JSON carries secrets as they are written, or names their source.
    if (qs::is_secret_entry(name)) {
        qs::read_secret(value, qs::SecretLiteral::as_written, name, field, member->size);
        return;
    }
    const bool whole = qs::copy_bounded(field, member->size, value);
    if (name == "subfilter") validate_sub_filter(field);
    if (name == "conffile") note_cut_path(value, whole, too_long);
}

void fill_from_object(json_object *root, SigningConfig *config, std::string *too_long) {
    json_object_object_foreach(root, name, value) {
        if (!value || json_object_get_type(value) != json_type_string) continue;
        store_member(config, name, qs::view(json_object_get_string(value)), too_long);
    }
}

}  // namespace

namespace qs {

void fill_from_json(const char *configuration, SigningConfig *config, std::string *too_long) {
    const std::string_view text = view(configuration);
    config->certfiledata = 1;
    if (text.find('{') == std::string_view::npos) {
        note_cut_path(text, copy_field(config->conffile, text), too_long);
    } else {
        JsonPtr root(json_tokener_parse(configuration));
        if (root && json_object_get_type(root.get()) == json_type_object)
            fill_from_object(root.get(), config, too_long);
    }
    // Without key store data from JSON, a "certfile=" line names a file. An
    // empty "certfile" member counts as no data.
    if (!config->certfile || config->certfile[0] == '\0') {
        config->certfiledata = 0;
        if (!give_empty_certfile(config)) throw std::bad_alloc();
    }
}

}  // namespace qs

extern "C" {

QS_API int read_conf_json(const char *configuration, SigningConfig *config) {
    return qs::guarded([&]() -> int {
        if (!config) {
            qs::report("No configuration record was given.");
            return -1;
        }
        qs::fill_from_json(configuration, config);
        return 0;
    });
}

QS_API int read_conf_json_entry(const char *json, const char *name, char *out) {
    return qs::guarded([&]() -> int {
        if (!json || !name || !out) return -1;
        qs::JsonPtr root(json_tokener_parse(json));
        json_object *member = nullptr;
        if (!root || json_object_get_type(root.get()) != json_type_object ||
            !json_object_object_get_ex(root.get(), name, &member) || !member ||
            json_object_get_type(member) != json_type_string)
            return -1;
        qs::copy_bounded(out, qs::kTextField, qs::view(json_object_get_string(member)));
        return 0;
    });
}

}  // extern "C"
