// Reading, writing and applying field locks.
#include "pdf/field_lock.h"

#include "core/base/guard.h"
#include "pdf/text_string.h"

namespace qs {
namespace {

constexpr const char *kActions[] = {"/All", "/Include", "/Exclude"};
constexpr FieldLock::Action kActionValues[] = {FieldLock::Action::All, FieldLock::Action::Include,
                                               FieldLock::Action::Exclude};

QPDFObjectHandle name(const std::string &text) { return QPDFObjectHandle::newName(text); }

bool names_field(const std::string &entry, const std::string &name) {
    return name == entry || (name.size() > entry.size() && name.compare(0, entry.size(), entry) == 0 &&
                             name[entry.size()] == '.');
}

// The names of a comma-separated list; false when one is empty.
bool split_names(const std::string &list, std::vector<std::string> &names) {
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = list.find(',', from);
        names.push_back(list.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (names.back().empty()) return false;
        if (comma == std::string::npos) return true;
        from = comma + 1;
    }
}

QPDFObjectHandle transform_params(const FieldLock &lock) {
    QPDFObjectHandle params = lock_dictionary(lock);
    params.replaceKey("/Type", name("/TransformParams"));
    params.removeKey("/P");
    params.replaceKey("/V", name("/1.2"));
    return params;
}

QPDFObjectHandle reference(const char *method, QPDFObjectHandle params, QPDFObjectHandle data) {
    QPDFObjectHandle reference = QPDFObjectHandle::newDictionary();
    reference.replaceKey("/Type", name("/SigRef"));
    reference.replaceKey("/TransformMethod", name(method));
    reference.replaceKey("/TransformParams", params);
    reference.replaceKey("/Data", data);
    return reference;
}

}  // namespace

bool read_field_lock(QPDFObjectHandle dictionary, FieldLock &lock) {
    if (!dictionary.isDictionary()) return false;
    QPDFObjectHandle action = dictionary.getKey("/Action");
    if (!action.isName()) return false;
    bool known = false;
    for (std::size_t i = 0; i < sizeof kActions / sizeof kActions[0]; ++i)
        if (action.getName() == kActions[i]) {
            lock.action = kActionValues[i];
            known = true;
        }
    if (!known) return false;
    lock.fields.clear();
    QPDFObjectHandle fields = dictionary.getKey("/Fields");
    for (int i = 0; fields.isArray() && i < fields.getArrayNItems(); ++i)
        if (fields.getArrayItem(i).isString()) lock.fields.push_back(fields.getArrayItem(i).getUTF8Value());
    QPDFObjectHandle p = dictionary.getKey("/P");
    lock.permissions = p.isInteger() && p.getIntValue() >= 1 && p.getIntValue() <= 3 ? static_cast<int>(p.getIntValue())
                                                                                      : 0;
    return true;
}

bool parse_siglock(const std::string &text, FieldLock &lock) {
    lock = FieldLock();
    if (text == "all") return true;
    const std::size_t colon = text.find(':');
    const std::string action = text.substr(0, colon);
    if (colon != std::string::npos && (action == "include" || action == "exclude")) {
        lock.action = action == "include" ? FieldLock::Action::Include : FieldLock::Action::Exclude;
        if (split_names(text.substr(colon + 1), lock.fields)) return true;
    }
    report("The siglock value \"" + text + "\" is none of all, include:NAMES and exclude:NAMES.");
    return false;
}

bool locks_field(const FieldLock &lock, const std::string &name) {
    if (lock.action == FieldLock::Action::All) return true;
    bool listed = false;
    for (const std::string &entry : lock.fields) listed = listed || names_field(entry, name);
    return lock.action == FieldLock::Action::Include ? listed : !listed;
}

QPDFObjectHandle lock_dictionary(const FieldLock &lock) {
    QPDFObjectHandle dictionary = QPDFObjectHandle::newDictionary();
    dictionary.replaceKey("/Type", name("/SigFieldLock"));
    dictionary.replaceKey("/Action", name(kActions[static_cast<int>(lock.action)]));
    if (lock.action != FieldLock::Action::All) {
        QPDFObjectHandle fields = QPDFObjectHandle::newArray();
        for (const std::string &field : lock.fields) fields.appendItem(text_string(field));
        dictionary.replaceKey("/Fields", fields);
    }
    if (lock.permissions != 0) dictionary.replaceKey("/P", QPDFObjectHandle::newInteger(lock.permissions));
    return dictionary;
}

void append_lock_references(QPDFObjectHandle references, const FieldLock &lock, QPDFObjectHandle data) {
    references.appendItem(reference("/FieldMDP", transform_params(lock), data));
    if (lock.permissions != 0) append_docmdp_reference(references, lock.permissions, data);
}

void append_docmdp_reference(QPDFObjectHandle references, int level, QPDFObjectHandle data) {
    QPDFObjectHandle params = QPDFObjectHandle::newDictionary();
    params.replaceKey("/Type", name("/TransformParams"));
    params.replaceKey("/P", QPDFObjectHandle::newInteger(level));
    params.replaceKey("/V", name("/1.2"));
    references.appendItem(reference("/DocMDP", params, data));
}

std::vector<FieldLock> signature_locks(QPDFObjectHandle field, QPDFObjectHandle value) {
    std::vector<FieldLock> locks;
    QPDFObjectHandle references = value.isDictionary() ? value.getKey("/Reference") : QPDFObjectHandle::newNull();
    for (int i = 0; references.isArray() && i < references.getArrayNItems(); ++i) {
        QPDFObjectHandle reference = references.getArrayItem(i);
        QPDFObjectHandle method = reference.isDictionary() ? reference.getKey("/TransformMethod")
                                                           : QPDFObjectHandle::newNull();
        FieldLock lock;
        if (method.isName() && method.getName() == "/FieldMDP" &&
            read_field_lock(reference.getKey("/TransformParams"), lock))
            locks.push_back(lock);
    }
    FieldLock own;
    if (field.isDictionary() && read_field_lock(field.getKey("/Lock"), own)) locks.push_back(own);
    return locks;
}

}  // namespace qs
