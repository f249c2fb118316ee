// Widget annotation, interactive form, page annotations, the refusal of a
// certified document and whether a document is signed already.
#include "pdf/form_fields.h"

#include <set>

#include "core/base/text.h"
#include "core/base/version.h"
#include "pdf/text_string.h"
#include "pdf/xref_writer.h"

namespace qs {

namespace {

QPDFObjectHandle name(const char *text) { return QPDFObjectHandle::newName(text); }

// Notes the indirect objects that a decision is read from.
struct Consulted {
    std::vector<QPDFObjGen> *objects;
    QPDFObjectHandle operator()(QPDFObjectHandle object) const {
        if (objects && object.isIndirect()) objects->push_back(object.getObjGen());
        return object;
    }
};

bool grants_no_changes(QPDFObjectHandle params) {
    QPDFObjectHandle p = params.isDictionary() ? params.getKey("/P") : QPDFObjectHandle::newNull();
    return p.isNumber() && p.getNumericValue() == 1;
}

// Field trees deeper than this are not looked into; real forms nest a few levels.
constexpr int kDeepestField = 32;

// True when the field, or a field below it, holds a signature: a value that is
// a dictionary (the values of other fields are texts, names or arrays).
bool holds_signature(QPDFObjectHandle field, std::set<QPDFObjGen> &seen, int depth) {
    if (!field.isDictionary() || depth > kDeepestField) return false;
    if (field.isIndirect() && !seen.insert(field.getObjGen()).second) return false;
    if (field.getKey("/V").isDictionary()) return true;
    QPDFObjectHandle kids = field.getKey("/Kids");
    for (int i = 0; kids.isArray() && i < kids.getArrayNItems(); ++i)
        if (holds_signature(kids.getArrayItem(i), seen, depth + 1)) return true;
    return false;
}

// A direct copy of an indirect dictionary, or the dictionary itself.
QPDFObjectHandle direct_dictionary(QPDFObjectHandle dictionary) {
    if (!dictionary.isIndirect()) return dictionary;
    QPDFObjectHandle copy = QPDFObjectHandle::newDictionary();
    for (const auto &entry : dictionary.getDictAsMap()) copy.replaceKey(entry.first, entry.second);
    return copy;
}

}  // namespace

bool is_certified(QPDFObjectHandle catalog, std::vector<QPDFObjGen> *consulted) {
    const Consulted note{consulted};
    QPDFObjectHandle perms = note(catalog.getKey("/Perms"));
    QPDFObjectHandle docmdp = perms.isDictionary() ? note(perms.getKey("/DocMDP")) : QPDFObjectHandle::newNull();
    if (!docmdp.isDictionary()) return false;
    QPDFObjectHandle type = docmdp.getKey("/Type");
    if (!type.isName() || type.getName() != "/Sig") return false;
    if (grants_no_changes(note(docmdp.getKey("/TransformParams")))) return true;
    // Certification signatures keep their parameters in the DocMDP signature reference.
    QPDFObjectHandle references = note(docmdp.getKey("/Reference"));
    for (int i = 0; references.isArray() && i < references.getArrayNItems(); ++i) {
        QPDFObjectHandle reference = note(references.getArrayItem(i));
        if (!reference.isDictionary()) continue;
        QPDFObjectHandle method = reference.getKey("/TransformMethod");
        if (method.isName() && method.getName() == "/DocMDP" &&
            grants_no_changes(note(reference.getKey("/TransformParams"))))
            return true;
    }
    return false;
}

bool carries_signature(QPDFObjectHandle catalog) {
    // A certification or usage-rights signature is named in /Perms.
    QPDFObjectHandle perms = catalog.getKey("/Perms");
    if (perms.isDictionary() && !perms.getKeys().empty()) return true;
    QPDFObjectHandle form = catalog.getKey("/AcroForm");
    QPDFObjectHandle fields = form.isDictionary() ? form.getKey("/Fields") : QPDFObjectHandle::newNull();
    std::set<QPDFObjGen> seen;
    for (int i = 0; fields.isArray() && i < fields.getArrayNItems(); ++i)
        if (holds_signature(fields.getArrayItem(i), seen, 0)) return true;
    return false;
}

QPDFObjectHandle widget_annotation(const WidgetFields &fields) {
    QPDFObjectHandle rect = QPDFObjectHandle::newArray();
    for (int v : {fields.llx, fields.lly, fields.urx, fields.ury}) rect.appendItem(QPDFObjectHandle::newInteger(v));
    QPDFObjectHandle widget = QPDFObjectHandle::newDictionary();
    widget.replaceKey("/Type", name("/Annot"));
    widget.replaceKey("/Subtype", name("/Widget"));
    widget.replaceKey("/F", QPDFObjectHandle::newInteger(fields.flags));
    widget.replaceKey("/FT", name("/Sig"));
    widget.replaceKey("/Rect", rect);
    widget.replaceKey("/P", fields.page);
    widget.replaceKey("/T", text_string(fields.title.empty() ? "Signature with certificate " + fields.serial
                                                             : fields.title));
    if (fields.signature != 0) widget.replaceKey("/V", forward_reference(fields.signature));
    for (auto [key, value] : {std::make_pair("/Parent", fields.parent), std::make_pair("/Lock", fields.lock)})
        if (!value.isNull()) widget.replaceKey(key, value);
    if (fields.appearance != 0) {
        QPDFObjectHandle ap = QPDFObjectHandle::newDictionary();
        ap.replaceKey("/N", forward_reference(fields.appearance));
        widget.replaceKey("/AP", ap);
        QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
        fonts.replaceKey(fields.font_name, forward_reference(fields.font));
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/Font", fonts);
        widget.replaceKey("/DR", resources);
        widget.replaceKey("/DA", QPDFObjectHandle::newString(fields.font_name + " 0 Tf 0 g"));
    }
    return widget;
}

std::vector<QPDFObjectHandle> add_field_to_catalog(QPDFObjectHandle catalog, int field, bool certify,
                                                   int signature) {
    std::vector<QPDFObjectHandle> rewritten;
    // Earlier signatures cover the catalog: it changes only as a further
    // signature needs, and this system's mark goes into unsigned documents only.
    const bool first_signature = !carries_signature(catalog);
    QPDFObjectHandle form = catalog.getKey("/AcroForm");
    form = form.isDictionary() ? direct_dictionary(form) : QPDFObjectHandle::newDictionary();
    QPDFObjectHandle fields = form.getKey("/Fields");
    if (!fields.isArray()) {
        fields = QPDFObjectHandle::newArray();
        form.replaceKey("/Fields", fields);
    } else if (fields.isIndirect() && field != 0) {
        // The form only refers to this array: it is written again with the new field in it.
        rewritten.push_back(fields);
    }
    if (field != 0) fields.insertItem(0, forward_reference(field));
    form.replaceKey("/SigFlags", QPDFObjectHandle::newInteger(3));
    catalog.replaceKey("/AcroForm", form);
    if (certify) {
        QPDFObjectHandle perms = QPDFObjectHandle::newDictionary();
        perms.replaceKey("/DocMDP", forward_reference(signature));
        catalog.replaceKey("/Perms", perms);
    }
    if (first_signature) catalog.replaceKey("/Quillseal", QPDFObjectHandle::newString(kVersion));
    return rewritten;
}

std::vector<QPDFObjectHandle> add_font_to_form(QPDFObjectHandle catalog, const std::string &font_name, int font) {
    QPDFObjectHandle form = catalog.getKey("/AcroForm");
    QPDFObjectHandle resources = form.getKey("/DR");
    if (!resources.isDictionary()) {
        resources = QPDFObjectHandle::newDictionary();
        form.replaceKey("/DR", resources);
    }
    QPDFObjectHandle fonts = resources.getKey("/Font");
    if (!fonts.isDictionary()) {
        fonts = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/Font", fonts);
    }
    // A font the form names already stays: the form's other fields may be drawn with it.
    if (fonts.hasKey(font_name)) return {};
    fonts.replaceKey(font_name, forward_reference(font));
    // The form only refers to an indirect dictionary: the one holding the new
    // entry is written again under its own number.
    if (fonts.isIndirect()) return {fonts};
    if (resources.isIndirect()) return {resources};
    return {};
}

void set_adbe_extension(QPDFObjectHandle catalog, int level) {
    QPDFObjectHandle extensions = catalog.getKey("/Extensions");
    QPDFObjectHandle adbe = extensions.isDictionary() ? extensions.getKey("/ADBE") : QPDFObjectHandle::newNull();
    QPDFObjectHandle current = adbe.isDictionary() ? adbe.getKey("/ExtensionLevel") : QPDFObjectHandle::newNull();
    if (current.isInteger() && current.getIntValue() >= level) return;
    QPDFObjectHandle raised = QPDFObjectHandle::newDictionary();
    raised.replaceKey("/BaseVersion", name("/1.7"));
    raised.replaceKey("/ExtensionLevel", QPDFObjectHandle::newInteger(level));
    // Other developers' extensions stay; the catalog holds the copy it is written with.
    QPDFObjectHandle kept = extensions.isDictionary() ? direct_dictionary(extensions) : QPDFObjectHandle::newDictionary();
    kept.replaceKey("/ADBE", raised);
    catalog.replaceKey("/Extensions", kept);
}

void add_widget_to_page(QPDFObjectHandle page, int field) {
    QPDFObjectHandle annots = page.getKey("/Annots");
    if (!annots.isArray()) {
        annots = QPDFObjectHandle::newArray();
    } else if (annots.isIndirect()) {
        QPDFObjectHandle copy = QPDFObjectHandle::newArray();
        for (int i = 0; i < annots.getArrayNItems(); ++i) copy.appendItem(annots.getArrayItem(i));
        annots = copy;
    }
    annots.appendItem(forward_reference(field));
    page.replaceKey("/Annots", annots);
}

}  // namespace qs

