#include "pdf/signature_inventory.h"

#include <algorithm>
#include <set>

#include "core/base/guard.h"

namespace qs {
namespace {

constexpr int kMostFieldLevels = 32;

std::string name_text(QPDFObjectHandle name) {
    if (!name.isName()) return std::string();
    const std::string text = name.getName();
    return text.empty() ? text : text.substr(1);
}

// The /P of a DocMDP transform; 2 when its parameters leave it out.
int docmdp_level(QPDFObjectHandle params) {
    QPDFObjectHandle p = params.isDictionary() ? params.getKey("/P") : QPDFObjectHandle::newNull();
    return p.isInteger() ? static_cast<int>(p.getIntValue()) : 2;
}

std::string field_name(QPDFObjectHandle field, const std::string &parent) {
    QPDFObjectHandle title = field.getKey("/T");
    const std::string own = title.isString() ? title.getUTF8Value() : std::string();
    if (parent.empty()) return own;
    return own.empty() ? parent : parent + "." + own;
}

void collect(QPDFObjectHandle catalog, QPDFObjectHandle fields, const std::string &parent, int level,
             std::set<QPDFObjGen> &seen, std::vector<SignatureEntry> &out) {
    if (!fields.isArray() || level > kMostFieldLevels) return;
    for (QPDFObjectHandle field : fields.aitems()) {
        if (!field.isDictionary()) continue;
        if (field.isIndirect() && !seen.insert(field.getObjGen()).second) continue;
        const std::string name = field_name(field, parent);
        collect(catalog, field.getKey("/Kids"), name, level + 1, seen, out);
        QPDFObjectHandle value = field.getKey("/V");
        // A value with a /ByteRange is a signature, its /Contents readable or not: one that
        // cannot be read is judged broken, never passed over.
        if (!value.isDictionary() || !value.hasKey("/ByteRange")) continue;
        // A signature that stands in a field and in its widget is one signature.
        if (value.isIndirect() && !seen.insert(value.getObjGen()).second) continue;
        SignatureEntry entry;
        entry.field = name;
        entry.subfilter = name_text(value.getKey("/SubFilter"));
        QPDFObjectHandle type = value.getKey("/Type");
        entry.document_timestamp =
            (type.isName() && type.getName() == "/DocTimeStamp") || entry.subfilter == "ETSI.RFC3161";
        QPDFObjectHandle claimed = value.getKey("/M");
        if (claimed.isString()) entry.claimed_time = claimed.getStringValue();
        entry.certification = entry.document_timestamp ? 0 : certification_level(catalog, value);
        entry.range_readable = read_byte_range(value.getKey("/ByteRange"), entry.range);
        out.push_back(entry);
    }
}

std::vector<std::string> stream_items(QPDFObjectHandle dss, const char *key) {
    std::vector<std::string> items;
    QPDFObjectHandle array = dss.isDictionary() ? dss.getKey(key) : QPDFObjectHandle::newNull();
    for (int i = 0; array.isArray() && i < array.getArrayNItems(); ++i) {
        QPDFObjectHandle item = array.getArrayItem(i);
        if (!item.isStream()) continue;
        auto data = item.getStreamData(qpdf_dl_generalized);
        items.emplace_back(reinterpret_cast<const char *>(data->getBuffer()), data->getSize());
    }
    return items;
}

}  // namespace

// The certification level of value: its own DocMDP reference, or the
// catalog's /Perms /DocMDP naming it.
int certification_level(QPDFObjectHandle catalog, QPDFObjectHandle value) {
    QPDFObjectHandle references = value.getKey("/Reference");
    for (int i = 0; references.isArray() && i < references.getArrayNItems(); ++i) {
        QPDFObjectHandle reference = references.getArrayItem(i);
        if (!reference.isDictionary()) continue;
        QPDFObjectHandle method = reference.getKey("/TransformMethod");
        if (method.isName() && method.getName() == "/DocMDP") return docmdp_level(reference.getKey("/TransformParams"));
    }
    QPDFObjectHandle perms = catalog.getKey("/Perms");
    QPDFObjectHandle docmdp = perms.isDictionary() ? perms.getKey("/DocMDP") : QPDFObjectHandle::newNull();
    if (docmdp.isIndirect() && value.isIndirect() && docmdp.getObjGen() == value.getObjGen()) return 2;
    return 0;
}

bool read_whole_document(std::FILE *file, QPDF &pdf) {
    try {
        pdf.setSuppressWarnings(true);
        pdf.processFile("signed document", file, false, "");
        return true;
    } catch (const QPDFExc &e) {
        if (e.getErrorCode() == qpdf_e_password)
            report("The document is encrypted; it cannot be opened without its password.");
        else
            report(std::string("The document cannot be read as a PDF: ") + e.getMessageDetail());
    } catch (const std::exception &e) {
        report(std::string("The document cannot be read as a PDF: ") + e.what());
    }
    return false;
}

bool read_byte_range(QPDFObjectHandle value, long range[4]) {
    if (!value.isArray() || value.getArrayNItems() != 4) return false;
    for (int i = 0; i < 4; ++i) {
        QPDFObjectHandle item = value.getArrayItem(i);
        if (!item.isInteger()) return false;
        range[i] = static_cast<long>(item.getIntValue());
    }
    return true;
}

std::vector<SignatureEntry> list_signatures(QPDF &pdf) {
    std::vector<SignatureEntry> entries;
    QPDFObjectHandle catalog = pdf.getRoot();
    QPDFObjectHandle form = catalog.getKey("/AcroForm");
    std::set<QPDFObjGen> seen;
    if (form.isDictionary()) collect(catalog, form.getKey("/Fields"), "", 0, seen, entries);
    // Oldest first: the signed bytes of an earlier signature end earlier. One
    // whose /ByteRange cannot be read has no place among them and goes last,
    // so that it is never passed over as an older signature.
    std::stable_sort(entries.begin(), entries.end(), [](const SignatureEntry &a, const SignatureEntry &b) {
        if (a.range_readable != b.range_readable) return a.range_readable;
        return a.range[2] + a.range[3] < b.range[2] + b.range[3];
    });
    return entries;
}

StoreContents read_security_store(QPDF &pdf) {
    QPDFObjectHandle dss = pdf.getRoot().getKey("/DSS");
    StoreContents store;
    store.certs = stream_items(dss, "/Certs");
    store.ocsps = stream_items(dss, "/OCSPs");
    store.crls = stream_items(dss, "/CRLs");
    return store;
}

}  // namespace qs
