// Walking the form's field tree: names, inherited entries, widgets and the
// pages that show them.
#include "pdf/field_tree.h"

#include <algorithm>
#include <set>

namespace qs {
namespace {

QPDFObjectHandle entry(QPDFObjectHandle object, const std::string &key) {
    return object.isDictionary() ? object.getKey(key) : QPDFObjectHandle::newNull();
}

std::string own_name(QPDFObjectHandle field) {
    QPDFObjectHandle title = entry(field, "/T");
    return title.isString() ? title.getUTF8Value() : std::string();
}

std::string joined(const std::string &parent, const std::string &own) {
    if (parent.empty()) return own;
    return own.empty() ? parent : parent + "." + own;
}

class FieldWalk {
public:
    explicit FieldWalk(std::vector<FormField> &out) : out_(out) {}

    void walk(QPDFObjectHandle fields, const std::string &parent, int level) {
        if (!fields.isArray() || level > kDeepestFieldLevel) return;
        for (QPDFObjectHandle field : fields.aitems()) {
            if (!field.isDictionary()) continue;
            if (field.isIndirect() && !seen_.insert(field.getObjGen()).second) continue;
            const std::string name = joined(parent, own_name(field));
            if (is_parent_field(field)) {
                walk(field.getKey("/Kids"), name, level + 1);
                continue;
            }
            FormField terminal{field, name, {}};
            if (is_widget(field)) terminal.widgets.push_back(field);
            QPDFObjectHandle kids = field.getKey("/Kids");
            for (int i = 0; kids.isArray() && i < kids.getArrayNItems(); ++i)
                if (kids.getArrayItem(i).isDictionary()) terminal.widgets.push_back(kids.getArrayItem(i));
            out_.push_back(terminal);
        }
    }

private:
    std::vector<FormField> &out_;
    std::set<QPDFObjGen> seen_;
};

// The parents met on the way to every field, by name, for find_field.
void collect_parents(QPDFObjectHandle fields, const std::string &parent, int level, std::set<QPDFObjGen> &seen,
                     std::vector<std::pair<std::string, QPDFObjectHandle>> &parents) {
    if (!fields.isArray() || level > kDeepestFieldLevel) return;
    for (QPDFObjectHandle field : fields.aitems()) {
        if (!field.isDictionary() || !is_parent_field(field)) continue;
        if (field.isIndirect() && !seen.insert(field.getObjGen()).second) continue;
        const std::string name = joined(parent, own_name(field));
        parents.emplace_back(name, field);
        collect_parents(field.getKey("/Kids"), name, level + 1, seen, parents);
    }
}

bool starts_name(const std::string &prefix, const std::string &name) {
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 && name[prefix.size()] == '.';
}

}  // namespace

QPDFObjectHandle inherited_entry(QPDFObjectHandle field, const std::string &key) {
    std::set<QPDFObjGen> seen;
    for (int level = 0; field.isDictionary() && level <= kDeepestFieldLevel; ++level) {
        if (field.isIndirect() && !seen.insert(field.getObjGen()).second) break;
        QPDFObjectHandle value = field.getKey(key);
        if (!value.isNull()) return value;
        field = field.getKey("/Parent");
    }
    return QPDFObjectHandle::newNull();
}

std::string qualified_name(QPDFObjectHandle field) {
    std::vector<std::string> parts;
    std::set<QPDFObjGen> seen;
    for (int level = 0; field.isDictionary() && level <= kDeepestFieldLevel; ++level) {
        if (field.isIndirect() && !seen.insert(field.getObjGen()).second) break;
        const std::string own = own_name(field);
        if (!own.empty()) parts.push_back(own);
        field = field.getKey("/Parent");
    }
    std::string name;
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) name = joined(name, *part);
    return name;
}

bool is_signature_field(QPDFObjectHandle field) {
    QPDFObjectHandle type = inherited_entry(field, "/FT");
    return type.isName() && type.getName() == "/Sig";
}

bool is_widget(QPDFObjectHandle annotation) {
    QPDFObjectHandle subtype = entry(annotation, "/Subtype");
    return subtype.isName() && subtype.getName() == "/Widget";
}

bool is_parent_field(QPDFObjectHandle field) {
    QPDFObjectHandle kids = entry(field, "/Kids");
    for (int i = 0; kids.isArray() && i < kids.getArrayNItems(); ++i)
        if (entry(kids.getArrayItem(i), "/T").isString()) return true;
    return false;
}

QPDFObjectHandle field_value(FormField field) {
    QPDFObjectHandle value = inherited_entry(field.field, "/V");
    for (QPDFObjectHandle widget : field.widgets)
        if (value.isNull()) value = entry(widget, "/V");
    return value;
}

std::vector<FormField> terminal_fields(QPDFObjectHandle catalog) {
    std::vector<FormField> fields;
    FieldWalk(fields).walk(entry(entry(catalog, "/AcroForm"), "/Fields"), "", 0);
    return fields;
}

NamedField find_field(QPDFObjectHandle catalog, const std::string &name) {
    NamedField found;
    if (name.empty()) return found;
    for (const FormField &field : terminal_fields(catalog)) {
        if (field.name == name) {
            found.kind = NamedField::Kind::Terminal;
            found.field = field;
            found.node = field.field;
            return found;
        }
        if (starts_name(field.name, name)) {
            found.kind = NamedField::Kind::Below;
            found.node = field.field;
        }
    }
    if (found.kind != NamedField::Kind::None) return found;
    std::vector<std::pair<std::string, QPDFObjectHandle>> parents;
    std::set<QPDFObjGen> seen;
    collect_parents(entry(entry(catalog, "/AcroForm"), "/Fields"), "", 0, seen, parents);
    for (const auto &[parent, node] : parents)
        if (parent == name) {
            found.kind = NamedField::Kind::Parent;
            found.node = node;
        }
    return found;
}

int widget_page(QPDF &pdf, QPDFObjectHandle widget) {
    std::vector<QPDFObjectHandle> pages = pdf.getAllPages();
    QPDFObjectHandle page = entry(widget, "/P");
    for (std::size_t i = 0; page.isIndirect() && i < pages.size(); ++i)
        if (pages[i].getObjGen() == page.getObjGen()) return static_cast<int>(i + 1);
    if (!widget.isIndirect()) return 0;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        QPDFObjectHandle annots = pages[i].getKey("/Annots");
        for (int k = 0; annots.isArray() && k < annots.getArrayNItems(); ++k) {
            QPDFObjectHandle annot = annots.getArrayItem(k);
            if (annot.isIndirect() && annot.getObjGen() == widget.getObjGen()) return static_cast<int>(i + 1);
        }
    }
    return 0;
}

bool read_rectangle(QPDFObjectHandle value, double rect[4]) {
    if (!value.isArray() || value.getArrayNItems() != 4) return false;
    for (int i = 0; i < 4; ++i) {
        QPDFObjectHandle item = value.getArrayItem(i);
        if (!item.isNumber()) return false;
        rect[i] = item.getNumericValue();
    }
    if (rect[0] > rect[2]) std::swap(rect[0], rect[2]);
    if (rect[1] > rect[3]) std::swap(rect[1], rect[3]);
    return true;
}

}  // namespace qs
