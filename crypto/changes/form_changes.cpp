// Judging the form objects an update rewrites: a field or widget is let pass
// only when the update signs it (an empty signature field of the form) or
// fills it (the value of a text, choice or check-box field with the
// appearances of its widgets), each change within what that needs, and the
// field is not locked by a signature of the signed revision.
#include "crypto/changes/form_changes.h"

#include <algorithm>
#include <initializer_list>

#include "pdf/field_tree.h"
#include "pdf/signature_inventory.h"

namespace qs {
namespace {

constexpr long long kRadioFlag = 1LL << 15;
constexpr long long kPushButtonFlag = 1LL << 16;
constexpr long long kReadOnlyFlag = 1;
constexpr double kRounding = 0.5;  // points an appearance may exceed its widget by

QPDFObjectHandle entry(QPDFObjectHandle object, const std::string &key) {
    return object.isDictionary() ? object.getKey(key) : QPDFObjectHandle::newNull();
}

bool is_name(QPDFObjectHandle object, const char *name) { return object.isName() && object.getName() == name; }

std::string quoted(const std::string &name) { return "\"" + name + "\""; }

// A widget without a name of its own belongs to the field that is its parent.
QPDFObjectHandle field_of(QPDFObjectHandle object) {
    QPDFObjectHandle parent = entry(object, "/Parent");
    if (is_widget(object) && !entry(object, "/T").isString() && parent.isDictionary() && !is_parent_field(object))
        return parent;
    return object;
}

bool locked(const UpdateContext &context, const std::string &name) {
    return std::any_of(context.rules.locks.begin(), context.rules.locks.end(),
                       [&](const FieldLock &lock) { return locks_field(lock, name); });
}

// Each changed key is one of allowed; the first other one, else empty.
std::string key_beyond(QPDFObjectHandle before, QPDFObjectHandle after, std::initializer_list<const char *> allowed) {
    for (const std::string &key : changed_keys(before, after))
        if (std::none_of(allowed.begin(), allowed.end(), [&](const char *each) { return key == each; }))
            return key;
    return std::string();
}

enum class Fillable { No, Text, Choice, CheckBox };

Fillable fillable_kind(QPDFObjectHandle field) {
    QPDFObjectHandle type = inherited_entry(field, "/FT");
    QPDFObjectHandle flags = inherited_entry(field, "/Ff");
    const long long ff = flags.isInteger() ? flags.getIntValue() : 0;
    if (is_name(type, "/Tx")) return Fillable::Text;
    if (is_name(type, "/Ch")) return Fillable::Choice;
    if (is_name(type, "/Btn") && !(ff & (kRadioFlag | kPushButtonFlag))) return Fillable::CheckBox;
    return Fillable::No;
}

bool value_fits(Fillable kind, QPDFObjectHandle value) {
    switch (kind) {
    case Fillable::Text: return value.isString();
    case Fillable::CheckBox: return value.isName();
    case Fillable::Choice:
        if (value.isString()) return true;
        if (!value.isArray()) return false;
        for (QPDFObjectHandle item : value.aitems())
            if (!item.isString()) return false;
        return true;
    case Fillable::No: break;
    }
    return false;
}

// A form XObject no larger than the widget's rectangle (either way round, for
// a rotated widget), placed without scaling or turning.
bool stream_fits(QPDFObjectHandle stream, const double rect[4]) {
    double box[4];
    if (!stream.isStream() || !read_rectangle(stream.getDict().getKey("/BBox"), box)) return false;
    QPDFObjectHandle matrix = stream.getDict().getKey("/Matrix");
    if (!matrix.isNull()) {
        const double identity[4] = {1, 0, 0, 1};
        if (!matrix.isArray() || matrix.getArrayNItems() != 6) return false;
        for (int i = 0; i < 4; ++i)
            if (!matrix.getArrayItem(i).isNumber() || matrix.getArrayItem(i).getNumericValue() != identity[i])
                return false;
    }
    const double w = box[2] - box[0], h = box[3] - box[1], width = rect[2] - rect[0], height = rect[3] - rect[1];
    return (w <= width + kRounding && h <= height + kRounding) || (w <= height + kRounding && h <= width + kRounding);
}

// A widget's /AP: normal, rollover and down appearances, each a form XObject
// or a dictionary of states, every one drawn within the widget's rectangle.
bool appearances_fit(QPDFObjectHandle widget) {
    double rect[4];
    QPDFObjectHandle ap = entry(widget, "/AP");
    if (!ap.isDictionary() || !read_rectangle(entry(widget, "/Rect"), rect)) return false;
    for (auto &[kind, appearance] : ap.ditems()) {
        if (kind != "/N" && kind != "/R" && kind != "/D") return false;
        if (appearance.isStream()) {
            if (!stream_fits(appearance, rect)) return false;
            continue;
        }
        if (!appearance.isDictionary()) return false;
        for (auto &[state, stream] : appearance.ditems())
            if (!stream_fits(stream, rect)) return false;
    }
    return true;
}

// A check box's /AS names one of its normal appearances, or Off.
bool state_known(QPDFObjectHandle widget) {
    QPDFObjectHandle state = entry(widget, "/AS");
    return state.isName() && (state.getName() == "/Off" || entry(entry(widget, "/AP"), "/N").hasKey(state.getName()));
}

std::string filling_change(QPDFObjectHandle before, QPDFObjectHandle after, UpdateContext &context) {
    QPDFObjectHandle field = field_of(after);
    const std::string name = quoted(qualified_name(field));
    const Fillable kind = fillable_kind(field);
    QPDFObjectHandle flags = inherited_entry(field, "/Ff");
    if (flags.isInteger() && (flags.getIntValue() & kReadOnlyFlag)) return "the read-only field " + name;
    if (locked(context, qualified_name(field))) return "the locked field " + name;
    if (!context.rules.filling_allowed) return "the field " + name + ", which the certification allows no one to fill";
    const bool is_field = field.getObjGen() == after.getObjGen();
    const std::string beyond = is_field && is_widget(after) ? key_beyond(before, after, {"/V", "/AP", "/AS"})
                               : is_field                   ? key_beyond(before, after, {"/V"})
                                                            : key_beyond(before, after, {"/AP", "/AS"});
    if (!beyond.empty()) return "the field " + name + " (its " + beyond + ")";
    if (is_field && !value_fits(kind, entry(after, "/V"))) return "the field " + name + " (a value of another kind)";
    if (is_widget(after) && entry(before, "/AP").unparse() != entry(after, "/AP").unparse() && !appearances_fit(after))
        return "the appearance of the field " + name + ", which is not drawn within its widget";
    if (is_widget(after) && entry(before, "/AS").unparse() != entry(after, "/AS").unparse() &&
        (kind != Fillable::CheckBox || !state_known(after)))
        return "the field " + name + " (its /AS)";
    context.kinds |= kUpdateFormFilling;
    return std::string();
}

std::string signing_change(QPDFObjectHandle before, QPDFObjectHandle after, UpdateContext &context) {
    const std::string plain = qualified_name(field_of(after)), name = quoted(plain);
    if (locked(context, plain)) return "the locked field " + name;
    // The value may stand in the field and in its widget; the date of signing too.
    const std::string beyond = key_beyond(before, after, {"/V", "/AP", "/M"});
    if (!beyond.empty()) return "the signature field " + name + " (its " + beyond + ")";
    return std::string();
}

// A parent of the form that only gains fields the update adds and signs.
std::string parent_change(QPDFObjectHandle before, QPDFObjectHandle after, UpdateContext &context) {
    const std::string beyond = key_beyond(before, after, {"/Kids"});
    if (!beyond.empty() || !gains_only(entry(before, "/Kids"), entry(after, "/Kids"), context.signature_fields))
        return "the form fields";
    return std::string();
}

// A signature field the revision before had, without a value.
bool empty_before(const FormField &field, QPDF &before) {
    FormField was{before.getObjectByObjGen(field.field.getObjGen()), field.name, {}};
    for (QPDFObjectHandle widget : field.widgets) was.widgets.push_back(before.getObjectByObjGen(widget.getObjGen()));
    return is_signature_field(was.field) && field_value(was).isNull();
}

// The parents of a field the update adds: those it adds too take part in the
// new field, the first one the form had takes it.
void note_parents(QPDFObjectHandle field, UpdateContext &context) {
    QPDFObjectHandle parent = entry(field, "/Parent");
    for (int level = 0; parent.isIndirect() && level <= kDeepestFieldLevel; ++level) {
        if (!context.added.count(parent.getObjGen())) {
            context.grown_parents.insert(parent.getObjGen());
            return;
        }
        context.signature_fields.insert(parent.getObjGen());
        parent = entry(parent, "/Parent");
    }
}

}  // namespace

FormRules form_rules(QPDF &signed_revision) {
    FormRules rules;
    QPDFObjectHandle catalog = signed_revision.getRoot();
    for (FormField &field : terminal_fields(catalog)) {
        QPDFObjectHandle value = field_value(field);
        if (!value.isDictionary() || !value.hasKey("/ByteRange")) continue;
        if (certification_level(catalog, value) == 1) rules.filling_allowed = false;
        for (const FieldLock &lock : signature_locks(field.field, value)) {
            rules.locks.push_back(lock);
            if (lock.permissions == 1) rules.filling_allowed = false;
        }
    }
    return rules;
}

void find_signed_form_fields(UpdateContext &context) {
    for (FormField &field : terminal_fields(context.after.getRoot())) {
        QPDFObjectHandle value = field_value(field);
        if (!field.field.isIndirect() || !is_signature_field(field.field) || !signed_over(value, context.bounds) ||
            !verifies_over_own_ranges(value, context))
            continue;
        const QPDFObjGen id = field.field.getObjGen();
        const bool timestamp = is_name(entry(value, "/Type"), "/DocTimeStamp");
        if (context.added.count(id)) {
            // A new field below a parent: the widgets are its own.
            if (entry(field.field, "/Parent").isNull()) continue;
            context.signature_fields.insert(id);
            for (QPDFObjectHandle widget : field.widgets)
                if (widget.isIndirect() && context.added.count(widget.getObjGen())) context.signature_widgets.insert(widget.getObjGen());
            note_parents(field.field, context);
        } else {
            if (!empty_before(field, context.before)) continue;
            context.signed_fields.insert(id);
            for (QPDFObjectHandle widget : field.widgets)
                if (widget.isIndirect() && !context.added.count(widget.getObjGen()))
                    context.signed_fields.insert(widget.getObjGen());
        }
        context.kinds |= timestamp ? kUpdateTimestamp : kUpdateSignature;
    }
}

bool judge_form_object(const ObjectUse &use, QPDFObjectHandle before, QPDFObjectHandle after,
                       UpdateContext &context, std::string &change) {
    if (!after.isIndirect() || !before.isDictionary() || (use.flags & ~(kUseFormField | kUseAnnotation)))
        return false;
    const QPDFObjGen id = after.getObjGen();
    if (context.signed_fields.count(id)) {
        change = signing_change(before, after, context);
        return true;
    }
    if (context.grown_parents.count(id)) {
        change = parent_change(before, after, context);
        return true;
    }
    if (fillable_kind(field_of(before)) == Fillable::No) return false;
    change = filling_change(before, after, context);
    return true;
}

bool appearances_left_to_fields(QPDFObjectHandle value, UpdateContext &context) {
    if (!value.isBool() || value.getBoolValue() || !context.rules.filling_allowed) return false;
    context.kinds |= kUpdateFormFilling;
    return true;
}

}  // namespace qs
