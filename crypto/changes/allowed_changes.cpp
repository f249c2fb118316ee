// Judging one rewritten object against what it was used for. Values are
// compared by their text, with references to other objects as references:
// an object the reference points to that changed is judged on its own.
// Signatures added by an update must be signed over the update that adds
// them and verify over their own ranges, so that a field that shows an
// appearance is one somebody signed.
#include "crypto/changes/allowed_changes.h"

#include <string>
#include <vector>

#include "core/base/guard.h"
#include "crypto/changes/verifier.h"
#include "pdf/signature_inventory.h"
#include "crypto/changes/form_changes.h"

namespace qs {
namespace {

const char *kReplaced = "objects the signature covers were replaced";

// The value of key in a dictionary; a null object for anything else, which
// qpdf would otherwise warn about or, for an object of no document, throw on.
QPDFObjectHandle entry(QPDFObjectHandle object, const std::string &key) {
    return object.isDictionary() ? object.getKey(key) : QPDFObjectHandle::newNull();
}

std::set<std::string> keys_of(QPDFObjectHandle object) {
    return object.isDictionary() ? object.getKeys() : std::set<std::string>();
}

}  // namespace

std::vector<std::string> changed_keys(QPDFObjectHandle before, QPDFObjectHandle after) {
    std::set<std::string> keys = keys_of(before);
    const std::set<std::string> later = keys_of(after);
    keys.insert(later.begin(), later.end());
    std::vector<std::string> changed;
    for (const std::string &key : keys)
        if (entry(before, key).unparse() != entry(after, key).unparse()) changed.push_back(key);
    return changed;
}

namespace {

bool keys_within(QPDFObjectHandle object, const std::set<std::string> &allowed) {
    for (const std::string &key : keys_of(object))
        if (allowed.count(key) == 0) return false;
    return true;
}

// A key as it is written in a PDF, so that odd bytes in it come out as #xx.
std::string written(const std::string &key) { return QPDFObjectHandle::newName(key).unparse(); }

std::string page_name(int page) { return "page " + std::to_string(page); }

std::string pages_text(UpdateContext &context) {
    const std::size_t was = context.before.getAllPages().size();
    const std::size_t now = context.after.getAllPages().size();
    const std::string counts = " (" + std::to_string(now) + " instead of " + std::to_string(was) + ")";
    if (now > was) return "pages were added" + counts;
    if (now < was) return "pages were removed" + counts;
    return "the page tree";
}

}  // namespace

bool gains_only(QPDFObjectHandle before, QPDFObjectHandle after, const std::set<QPDFObjGen> &allowed) {
    if (!after.isArray() || (!before.isArray() && !before.isNull())) return false;
    std::vector<std::string> kept;
    for (QPDFObjectHandle item : after.aitems())
        if (!item.isIndirect() || allowed.count(item.getObjGen()) == 0) kept.push_back(item.unparse());
    std::vector<std::string> earlier;
    if (before.isArray())
        for (QPDFObjectHandle item : before.aitems()) earlier.push_back(item.unparse());
    return kept == earlier;
}

namespace {

// A font entry that names another object holding the very same standard
// font, with no font program of its own: a further signature appearance in
// Helvetica writes its /Helv again. An embedded font is never the same, as it
// may draw the form's existing text differently.
bool same_standard_font(QPDFObjectHandle was, QPDFObjectHandle now) {
    return was.isDictionary() && now.isDictionary() && entry(was, "/FontDescriptor").isNull() &&
           was.unparseResolved() == now.unparseResolved();
}

// A dictionary whose earlier entries each stay, or change in a way
// still_same(key, was, now) accepts; new entries may be added.
template <typename StillSame>
bool entries_kept(QPDFObjectHandle before, QPDFObjectHandle after, StillSame still_same) {
    if (before.isNull()) return after.isNull() || after.isDictionary();
    if (!before.isDictionary() || !after.isDictionary()) return false;
    for (const std::string &key : before.getKeys()) {
        QPDFObjectHandle was = entry(before, key), now = entry(after, key);
        if (was.unparse() != now.unparse() && !still_same(key, was, now)) return false;
    }
    return true;
}

// The /Font dictionary of the form's resources: each earlier entry stays, or
// names the same standard font again.
bool fonts_kept(QPDFObjectHandle before, QPDFObjectHandle after) {
    return entries_kept(before, after, [](const std::string &, QPDFObjectHandle was, QPDFObjectHandle now) {
        return same_standard_font(was, now);
    });
}

// The form's resources (/DR): each earlier entry stays, /Font as above.
bool resources_kept(QPDFObjectHandle before, QPDFObjectHandle after) {
    return entries_kept(before, after, [](const std::string &key, QPDFObjectHandle was, QPDFObjectHandle now) {
        return key == "/Font" && fonts_kept(was, now);
    });
}

// An information dictionary that changed only in text entries. A dictionary
// that is also something a viewer shows (an annotation, a field, an outline
// item) is not one.
bool only_text_changed(QPDFObjectHandle before, QPDFObjectHandle after) {
    for (QPDFObjectHandle object : {before, after}) {
        if (!object.isNull() && !object.isDictionary()) return false;
        for (const char *key : {"/Subtype", "/FT", "/Rect", "/Parent"})
            if (!entry(object, key).isNull()) return false;
    }
    for (const std::string &key : changed_keys(before, after)) {
        QPDFObjectHandle was = entry(before, key), now = entry(after, key);
        if (!(was.isNull() || was.isString()) || !(now.isNull() || now.isString())) return false;
    }
    return true;
}

bool security_store_shaped(QPDFObjectHandle store) {
    return store.isNull() ||
           (store.isDictionary() && keys_within(store, {"/Type", "/VRI", "/Certs", "/OCSPs", "/CRLs"}));
}

// A /VRI dictionary: one dictionary of validation data per signature.
bool validation_info_shaped(QPDFObjectHandle info) {
    if (info.isNull()) return true;
    if (!info.isDictionary()) return false;
    for (auto &[key, data] : info.ditems())
        if (!data.isDictionary() || !keys_within(data, {"/Type", "/Cert", "/CRL", "/OCSP", "/TU", "/TS"}))
            return false;
    return true;
}

// A store or its /VRI rewritten in place must keep the shape of one, so that
// the object cannot serve anything a viewer shows.
bool security_store_kept(const ObjectUse &use, QPDFObjectHandle before, QPDFObjectHandle after) {
    if ((use.flags & kUseSecurityStore) && !(security_store_shaped(before) && security_store_shaped(after)))
        return false;
    if ((use.flags & kUseValidationInfo) && !(validation_info_shaped(before) && validation_info_shaped(after)))
        return false;
    return true;
}

bool is_name(QPDFObjectHandle object, const char *name) { return object.isName() && object.getName() == name; }

// An XMP metadata stream: it describes the document, and no reader draws it.
bool is_metadata_stream(QPDFObjectHandle object) {
    if (!object.isStream()) return false;
    QPDFObjectHandle dictionary = object.getDict();
    return is_name(entry(dictionary, "/Type"), "/Metadata") && is_name(entry(dictionary, "/Subtype"), "/XML") &&
           keys_within(dictionary, {"/Type", "/Subtype", "/Length", "/Filter", "/DecodeParms"});
}

// The catalog's XMP metadata rewritten in the update that gives the document
// information new text, as signing programs keep the two alike.
bool metadata_refreshed(const ObjectUse &use, QPDFObjectHandle before, QPDFObjectHandle after,
                        const UpdateContext &context) {
    return use.flags == kUseCatalogEntry && use.key == "/Metadata" && context.information_changed &&
           is_metadata_stream(before) && is_metadata_stream(after);
}

}  // namespace

bool signed_over(QPDFObjectHandle value, const UpdateBounds &bounds) {
    QPDFObjectHandle range = entry(value, "/ByteRange"), contents = entry(value, "/Contents");
    if (!range.isArray() || range.getArrayNItems() != 4 || !contents.isString()) return false;
    long long numbers[4];
    for (int i = 0; i < 4; ++i) {
        QPDFObjectHandle item = range.getArrayItem(i);
        if (!item.isInteger()) return false;
        numbers[i] = item.getIntValue();
    }
    const long long a = numbers[1], b = numbers[2], c = numbers[3];
    const std::string bytes = contents.getStringValue();
    return numbers[0] == 0 && a >= bounds.start && b >= a + 2 && c >= 0 && b + c >= bounds.eof &&
           b + c <= bounds.end && bytes.find_first_not_of('\0') != std::string::npos;
}

namespace {

bool is_timestamp(QPDFObjectHandle value) {
    return is_name(entry(value, "/Type"), "/DocTimeStamp") || is_name(entry(value, "/SubFilter"), "/ETSI.RFC3161");
}

std::string form_change(QPDFObjectHandle before, QPDFObjectHandle after, UpdateContext &context) {
    if (!after.isDictionary()) return "the form";
    for (const std::string &key : changed_keys(before, after)) {
        if (key == "/SigFlags") continue;
        if (key == "/NeedAppearances" && appearances_left_to_fields(entry(after, key), context)) continue;
        if (key == "/Fields") {
            if (!gains_only(entry(before, key), entry(after, key), context.signature_fields))
                return "the form fields";
            continue;
        }
        if (key == "/DR") {
            if (!resources_kept(entry(before, key), entry(after, key))) return "the form resources";
            continue;
        }
        return "the form entry " + written(key);
    }
    return std::string();
}

std::string catalog_change(QPDFObjectHandle before, QPDFObjectHandle after, UpdateContext &context) {
    for (const std::string &key : changed_keys(before, after)) {
        // The security store and the extension level that comes with it. Any
        // other key, this system's own mark among them, is no change signing
        // or validation data explains.
        if (key == "/Extensions") continue;
        if (key == "/DSS") {
            context.kinds |= kUpdateSecurityStore;
            continue;
        }
        if (key == "/Metadata" && context.information_changed && is_metadata_stream(entry(after, key))) {
            context.kinds |= kUpdateMetadata;
            continue;
        }
        if (key == "/AcroForm") {
            const std::string change = form_change(entry(before, key), entry(after, key), context);
            if (!change.empty()) return change;
            continue;
        }
        if (key == "/Pages") return pages_text(context);
        return "the document catalog entry " + written(key);
    }
    return std::string();
}

std::string page_change(int page, QPDFObjectHandle before, QPDFObjectHandle after, UpdateContext &context) {
    for (const std::string &key : changed_keys(before, after)) {
        if (key == "/Annots") {
            if (!gains_only(entry(before, key), entry(after, key), context.signature_widgets))
                return page_name(page) + " annotations";
            continue;
        }
        if (key == "/Contents") return page_name(page) + " content";
        if (key == "/Resources") return page_name(page) + " resources";
        return page_name(page) + " entry " + written(key);
    }
    return std::string();
}

bool is_signature_field(QPDFObjectHandle field) {
    QPDFObjectHandle type = entry(field, "/FT");
    return type.isName() && type.getName() == "/Sig";
}

bool is_widget(QPDFObjectHandle annotation) {
    QPDFObjectHandle subtype = entry(annotation, "/Subtype");
    return subtype.isName() && subtype.getName() == "/Widget";
}

// Uses whose objects no update may change at all, with what to call the change.
std::string unchangeable(const ObjectUse &use, UpdateContext &context) {
    const std::string page = page_name(use.page);
    if (use.flags & kUsePageContent) return page + " content";
    if (use.flags & kUsePageResources) return page + " resources";
    if (use.flags & kUseAnnotation) return page + " annotations";
    if (use.flags & kUsePageTree) return pages_text(context);
    if (use.flags & kUsePageEntry) return page + " entry " + written(use.key);
    if (use.flags & kUseCatalogEntry) return "the document catalog entry " + written(use.key);
    if (use.flags & kUseFormField) return "the form fields";
    if (use.flags & kUseFormEntry) return "the form entry " + written(use.key);
    if (use.flags & kUseFormResourceItem) return "the form resources";
    if (use.flags & kUseSecurityStoreItem) return "the document security store";
    return std::string();
}

}  // namespace

bool verifies_over_own_ranges(QPDFObjectHandle value, const UpdateContext &context) {
    long range[4];
    if (!context.file || !read_byte_range(entry(value, "/ByteRange"), range)) return false;
    ToleratedFailure tolerated;
    CmsPtr cms;
    const bool verified =
        verify_signature_at(context.file, context.bounds.end, range, is_timestamp(value), cms) == 0;
    tolerated.take();
    return verified;
}

void find_added_signature_fields(UpdateContext &context) {
    QPDFObjectHandle fields = entry(entry(context.after.getRoot(), "/AcroForm"), "/Fields");
    if (!fields.isArray()) return;
    for (QPDFObjectHandle field : fields.aitems()) {
        if (!field.isIndirect() || context.added.count(field.getObjGen()) == 0) continue;
        QPDFObjectHandle value = entry(field, "/V");
        if (!is_signature_field(field) || !signed_over(value, context.bounds) ||
            !verifies_over_own_ranges(value, context))
            continue;
        context.kinds |= is_timestamp(value) ? kUpdateTimestamp : kUpdateSignature;
        context.signature_fields.insert(field.getObjGen());
        if (is_widget(field)) context.signature_widgets.insert(field.getObjGen());
        QPDFObjectHandle kids = entry(field, "/Kids");
        if (!kids.isArray()) continue;
        for (QPDFObjectHandle kid : kids.aitems())
            if (kid.isIndirect() && context.added.count(kid.getObjGen()) != 0 && is_widget(kid))
                context.signature_widgets.insert(kid.getObjGen());
    }
}

std::string judge_trailer(UpdateContext &context) {
    QPDFObjectHandle was = context.before.getTrailer(), now = context.after.getTrailer();
    if (entry(was, "/Root").getObjGen() != entry(now, "/Root").getObjGen()) return "the document catalog was replaced";
    if (entry(was, "/Encrypt").unparse() != entry(now, "/Encrypt").unparse()) return "the document encryption";
    QPDFObjectHandle old_info = entry(was, "/Info"), new_info = entry(now, "/Info");
    if (old_info.unparse() != new_info.unparse() && !only_text_changed(old_info, new_info))
        return "the document information";
    context.information_changed = old_info.unparseResolved() != new_info.unparseResolved();
    if (context.information_changed) context.kinds |= kUpdateInformation;
    return std::string();
}

std::string judge_object(const ObjectUse &use, QPDFObjectHandle before, QPDFObjectHandle after,
                         UpdateContext &context) {
    if (use.flags == 0) return kReplaced;
    std::string form;
    if (judge_form_object(use, before, after, context, form)) return form;
    if (metadata_refreshed(use, before, after, context)) {
        context.kinds |= kUpdateMetadata;
        return std::string();
    }
    std::string change = unchangeable(use, context);
    if (!change.empty()) return change;
    // Text of the information dictionary is only text while nothing else uses the object.
    if ((use.flags & kUseInfo) && (use.flags != kUseInfo || !only_text_changed(before, after)))
        return "the document information";
    const std::string page = page_name(use.page);
    if ((use.flags & kUsePageAnnots) && !gains_only(before, after, context.signature_widgets))
        return page + " annotations";
    if ((use.flags & kUsePage) && !(change = page_change(use.page, before, after, context)).empty())
        return change;
    if ((use.flags & kUseCatalog) && !(change = catalog_change(before, after, context)).empty()) return change;
    if ((use.flags & kUseForm) && !(change = form_change(before, after, context)).empty()) return change;
    if ((use.flags & kUseFormFields) && !gains_only(before, after, context.signature_fields))
        return "the form fields";
    if ((use.flags & kUseFormResources) && !resources_kept(before, after)) return "the form resources";
    if ((use.flags & kUseFormFonts) && !fonts_kept(before, after)) return "the form resources";
    if (!security_store_kept(use, before, after)) return "the document security store";
    if (use.flags & (kUseSecurityStore | kUseValidationInfo)) context.kinds |= kUpdateSecurityStore;
    return std::string();
}

}  // namespace qs
