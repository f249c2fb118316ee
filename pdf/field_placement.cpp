// Choosing the field a signature goes into, and hanging a new field under
// the parents its name asks for.
#include "pdf/field_placement.h"

#include "core/base/guard.h"
#include "pdf/field_lock.h"
#include "pdf/text_string.h"

namespace qs {
namespace {

std::string quoted(const std::string &name) { return "\"" + name + "\""; }

std::vector<std::string> name_parts(const std::string &name) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t dot = name.find('.', from);
        parts.push_back(name.substr(from, dot == std::string::npos ? std::string::npos : dot - from));
        if (dot == std::string::npos) return parts;
        from = dot + 1;
    }
}

std::string joined(const std::vector<std::string> &parts, std::size_t count) {
    std::string name;
    for (std::size_t i = 0; i < count; ++i) name += (i ? "." : "") + parts[i];
    return name;
}

// True when a signature the form holds locks the field of this name.
bool locked_by_a_signature(QPDFObjectHandle catalog, const std::string &name) {
    for (const FormField &field : terminal_fields(catalog)) {
        QPDFObjectHandle value = field_value(field);
        if (!value.isDictionary() || !is_signature_field(field.field)) continue;
        for (const FieldLock &lock : signature_locks(field.field, value))
            if (locks_field(lock, name)) return true;
    }
    return false;
}

bool refuse(const std::string &why) {
    report(why);
    return false;
}

bool refuse_below(const std::string &terminal, const std::string &name) {
    return refuse("The field " + quoted(terminal) + " holds no other fields, so no field " + quoted(name) +
                  " can be made below it.");
}

// The object that holds a parent's /Kids and must be written again when it gains one.
bool add_kid(QPDFObjectHandle parent, int field, HungField &hung) {
    QPDFObjectHandle kids = parent.getKey("/Kids");
    if (!parent.isIndirect() || !kids.isArray()) return false;
    kids.appendItem(forward_reference(field));
    hung.rewritten.push_back(kids.isIndirect() ? kids : parent);
    return true;
}

}  // namespace

bool choose_signing_target(QPDFObjectHandle catalog, const std::string &name, SigningTarget &target) {
    target = SigningTarget();
    target.name = name;
    if (name.empty()) return true;
    const NamedField found = find_field(catalog, name);
    switch (found.kind) {
    case NamedField::Kind::None:
        return true;
    case NamedField::Kind::Below:
        return refuse_below(qualified_name(found.node), name);
    case NamedField::Kind::Parent:
        return refuse("The field " + quoted(name) + " holds other fields; name the signature field among them.");
    case NamedField::Kind::Terminal:
        break;
    }
    if (!is_signature_field(found.field.field))
        return refuse("The field " + quoted(name) + " is not a signature field.");
    if (!field_value(found.field).isNull())
        return refuse("The signature field " + quoted(name) + " is signed already.");
    if (found.field.widgets.empty() || !found.field.widgets.front().isIndirect() || !found.field.field.isIndirect())
        return refuse("The signature field " + quoted(name) + " has no widget of its own to sign in.");
    if (locked_by_a_signature(catalog, name))
        return refuse("The signature field " + quoted(name) + " is locked by a signature of the document.");
    target.existing = true;
    target.field = found.field.field;
    target.widget = found.field.widgets.front();
    return true;
}

bool hang_new_field(QPDFObjectHandle catalog, const std::string &name, int field, int &next, HungField &hung) {
    hung = HungField();
    const std::vector<std::string> parts = name_parts(name);
    for (const std::string &part : parts)
        if (part.empty()) return refuse("The field name " + quoted(name) + " has an empty part.");
    const NamedField whole = find_field(catalog, name);
    if (whole.kind == NamedField::Kind::Below) return refuse_below(qualified_name(whole.node), name);
    if (whole.kind != NamedField::Kind::None) return refuse("The form has a field named " + quoted(name) + " already.");
    // The deepest parent the form has already.
    std::size_t kept = 0;
    QPDFObjectHandle parent;
    for (std::size_t count = parts.size() - 1; count > 0 && kept == 0; --count) {
        const NamedField found = find_field(catalog, joined(parts, count));
        if (found.kind == NamedField::Kind::Parent) {
            kept = count;
            parent = found.node;
        } else if (found.kind != NamedField::Kind::None) {
            return refuse_below(joined(parts, count), name);
        }
    }
    hung.own_name = parts.back();
    // New parents, innermost first, each holding the one below it.
    std::vector<int> numbers;
    for (std::size_t i = parts.size() - 1; i > kept; --i) numbers.insert(numbers.begin(), next++);
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        QPDFObjectHandle node = QPDFObjectHandle::newDictionary();
        node.replaceKey("/T", text_string(parts[kept + i]));
        QPDFObjectHandle kids = QPDFObjectHandle::newArray();
        kids.appendItem(forward_reference(i + 1 < numbers.size() ? numbers[i + 1] : field));
        node.replaceKey("/Kids", kids);
        if (i > 0) node.replaceKey("/Parent", forward_reference(numbers[i - 1]));
        else if (kept > 0) node.replaceKey("/Parent", parent);
        NewObject object;
        object.number = numbers[i];
        object.dictionary = serialize(node);
        hung.new_parents.push_back(object);
    }
    hung.parent = !numbers.empty() ? forward_reference(numbers.back()) : kept > 0 ? parent : QPDFObjectHandle::newNull();
    const int outermost = numbers.empty() ? field : numbers.front();
    if (kept == 0) {
        hung.top = outermost;
    } else if (!add_kid(parent, outermost, hung)) {
        return refuse("The field " + quoted(joined(parts, kept)) + " cannot take another field.");
    }
    return true;
}

}  // namespace qs
