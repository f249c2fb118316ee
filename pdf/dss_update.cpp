// The DSS incremental update: the validation data of every signature of the
// document, stored once per distinct item, and the catalog that points at it.
// A store the document already has is extended, never replaced: its items,
// its /VRI entries and any other entries stay, and an item gathered again is
// not stored twice.
#include "pdf/dss_update.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <vector>

#include <quillseal/pdf.h>

#include "appearance/flate.h"
#include "core/base/guard.h"
#include "core/base/handles.h"
#include "pdf/field_tree.h"
#include "pdf/file_tail.h"
#include "pdf/form_fields.h"
#include "pdf/info_dictionary.h"
#include "pdf/input_warnings.h"
#include "pdf/qpdf_api.h"
#include "pdf/xref_writer.h"

namespace qs {
namespace {

constexpr const char *kNotSigned = "The document may not be signed...";
constexpr const char *kNoData = "Unable to retrieve CRL or OCSP data for a signature.";
constexpr const char *kSelfSignedOnly =
    "The document may be signed with self-signed certificates only in which case it is already LTVed.";

// The items of one kind, each stored once: equal items of several signatures
// (the same name and the same bytes) become one object.
class ItemStore {
public:
    int add(const LtvItem &item) {
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i].name == item.name && items_[i].der == item.der) return static_cast<int>(i);
        items_.push_back(item);
        return static_cast<int>(items_.size() - 1);
    }
    const std::vector<LtvItem> &items() const { return items_; }

private:
    std::vector<LtvItem> items_;
};

// One signature's VRI entry: indices into the stores, in the order of its data.
struct SignatureEntry {
    std::string vri_key;
    std::vector<int> certs, ocsps, crls;
};

struct SecurityStore {
    ItemStore certs, crls, ocsps;
    std::vector<SignatureEntry> signatures;
};

// The references the items of each store are stored under, earlier or new.
struct ItemReferences {
    std::vector<QPDFObjectHandle> certs, crls, ocsps;
};

// One kind of item of the store the document already has: the references it
// holds, in its order, and the bytes of those that are streams.
struct EarlierItems {
    std::vector<QPDFObjectHandle> references;
    std::vector<std::string> bytes;  // empty for a reference that is no stream
};

struct EarlierStore {
    QPDFObjectHandle dss;  // the earlier /DSS dictionary, or null
    EarlierItems certs, crls, ocsps;
    QPDFObjectHandle vri;  // the earlier /VRI dictionary, or null
};

void enter(ItemStore &store, const std::vector<LtvItem> &items, std::vector<int> &indices) {
    for (const LtvItem &item : items) {
        const int at = store.add(item);
        if (std::find(indices.begin(), indices.end(), at) == indices.end()) indices.push_back(at);
    }
}

// A signature enters the store only with certificates and some revocation data.
void add_signature(SecurityStore &store, const LtvSignatureData &data) {
    if (data.certs.empty() || (data.crls.empty() && data.ocsps.empty())) return;
    SignatureEntry entry;
    entry.vri_key = data.vri_key;
    enter(store.certs, data.certs, entry.certs);
    enter(store.ocsps, data.ocsps, entry.ocsps);
    enter(store.crls, data.crls, entry.crls);
    store.signatures.push_back(std::move(entry));
}

void open_document(QPDF &pdf, std::FILE *input, const char *password) {
    read_input_strictly(pdf, input, password);
    // Streams appended in the clear would be read as garbage in an encrypted document.
    if (pdf.isEncrypted()) throw std::runtime_error("Encrypted PDFs cannot be given LTV data.");
}

// The /Contents of every signed field of the form, at any depth, in field
// order, each signature once; false (reported) when the document has no form.
// relied_on receives the objects they were read from.
bool signed_contents(QPDF &pdf, std::vector<std::string> &signatures, std::set<QPDFObjGen> &relied_on) {
    QPDFObjectHandle catalog = pdf.getRoot();
    QPDFObjectHandle form = catalog.getKey("/AcroForm");
    QPDFObjectHandle fields = form.isDictionary() ? form.getKey("/Fields") : QPDFObjectHandle::newNull();
    relied_on.insert({catalog.getObjGen(), form.getObjGen(), fields.getObjGen()});
    if (!fields.isArray()) {
        report(kNotSigned);
        return false;
    }
    std::set<QPDFObjGen> values;
    for (FormField &field : terminal_fields(catalog)) {
        QPDFObjectHandle value = field_value(field);
        QPDFObjectHandle contents = value.isDictionary() ? value.getKey("/Contents") : QPDFObjectHandle::newNull();
        if (!contents.isString()) continue;  // not signed (yet)
        if (value.isIndirect() && !values.insert(value.getObjGen()).second) continue;
        relied_on.insert({field.field.getObjGen(), value.getObjGen()});
        signatures.push_back(contents.getStringValue());
    }
    return true;
}

// The data of every signature, each gathered with the rest of the document
// at hand for finding issuers.
bool gather(const DocumentMaterial &document, const LtvSource &source, SecurityStore &store) {
    for (const std::string &contents : document.signatures) {
        LtvSignatureData data;
        if (!source(contents, document, data)) {
            report(kNoData);
            return false;
        }
        add_signature(store, data);
    }
    if (store.signatures.empty()) {
        report(kSelfSignedOnly);
        return false;
    }
    return true;
}

EarlierItems earlier_items(QPDFObjectHandle dss, const char *key, std::set<QPDFObjGen> &relied_on) {
    EarlierItems earlier;
    QPDFObjectHandle array = dss.getKey(key);
    if (array.isIndirect()) relied_on.insert(array.getObjGen());
    if (!array.isArray()) return earlier;
    for (QPDFObjectHandle item : array.aitems()) {
        earlier.references.push_back(item);
        std::string bytes;
        if (item.isStream()) {
            relied_on.insert(item.getObjGen());
            auto data = item.getStreamData(qpdf_dl_generalized);
            bytes.assign(reinterpret_cast<const char *>(data->getBuffer()), data->getSize());
        }
        earlier.bytes.push_back(std::move(bytes));
    }
    return earlier;
}

// The store the document has, read whole: nothing of it may be lost.
EarlierStore read_earlier_store(QPDFObjectHandle catalog, std::set<QPDFObjGen> &relied_on) {
    EarlierStore earlier;
    QPDFObjectHandle dss = catalog.getKey("/DSS");
    if (dss.isIndirect()) relied_on.insert(dss.getObjGen());
    if (!dss.isDictionary()) return earlier;
    earlier.dss = dss;
    earlier.certs = earlier_items(dss, "/Certs", relied_on);
    earlier.ocsps = earlier_items(dss, "/OCSPs", relied_on);
    earlier.crls = earlier_items(dss, "/CRLs", relied_on);
    QPDFObjectHandle vri = dss.getKey("/VRI");
    if (vri.isIndirect()) relied_on.insert(vri.getObjGen());
    if (vri.isDictionary()) earlier.vri = vri;
    return earlier;
}

// The reference of an earlier item with these bytes, or null.
QPDFObjectHandle earlier_copy(const EarlierItems &earlier, const std::string &bytes) {
    for (std::size_t i = 0; i < earlier.bytes.size(); ++i)
        if (!earlier.bytes[i].empty() && earlier.bytes[i] == bytes) return earlier.references[i];
    return QPDFObjectHandle::newNull();
}

// The reference of every item of store: an earlier item with the same bytes,
// or a new stream written here.
std::vector<QPDFObjectHandle> write_items(UpdateWriter &writer, const ItemStore &store, const EarlierItems &earlier) {
    std::vector<QPDFObjectHandle> references;
    for (const LtvItem &item : store.items()) {
        QPDFObjectHandle known = earlier_copy(earlier, item.der);
        if (!known.isNull()) {
            references.push_back(known);
            continue;
        }
        QPDFObjectHandle dictionary = QPDFObjectHandle::newDictionary();
        dictionary.replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
        const int number = writer.allocate();
        writer.add(new_stream(number, dictionary, deflate_bytes(item.der)));
        references.push_back(forward_reference(number));
    }
    return references;
}

// The earlier references followed by the new ones that are not among them.
QPDFObjectHandle merged(const std::vector<QPDFObjectHandle> &earlier, const std::vector<QPDFObjectHandle> &added) {
    QPDFObjectHandle array = QPDFObjectHandle::newArray();
    std::vector<std::string> seen;
    const auto append = [&](QPDFObjectHandle item) {
        const std::string text = item.unparse();
        if (std::find(seen.begin(), seen.end(), text) != seen.end()) return;
        seen.push_back(text);
        array.appendItem(item);
    };
    for (QPDFObjectHandle item : earlier) append(item);
    for (QPDFObjectHandle item : added) append(item);
    return array;
}

// The references at the given indices.
std::vector<QPDFObjectHandle> at(const std::vector<QPDFObjectHandle> &references, const std::vector<int> &indices) {
    std::vector<QPDFObjectHandle> picked;
    for (int i : indices) picked.push_back(references[static_cast<std::size_t>(i)]);
    return picked;
}

std::vector<QPDFObjectHandle> items_of(QPDFObjectHandle dictionary, const char *key) {
    QPDFObjectHandle array = dictionary.isDictionary() ? dictionary.getKey(key) : QPDFObjectHandle::newNull();
    return array.isArray() ? array.getArrayAsVector() : std::vector<QPDFObjectHandle>{};
}

void put_if_any(QPDFObjectHandle dictionary, const char *key, const std::vector<QPDFObjectHandle> &earlier,
                const std::vector<QPDFObjectHandle> &added) {
    if (!earlier.empty() || !added.empty()) dictionary.replaceKey(key, merged(earlier, added));
}

// A direct copy of a dictionary's entries, so that entries can be added to it
// without changing an object the update does not write.
QPDFObjectHandle copy_of(QPDFObjectHandle dictionary) {
    QPDFObjectHandle copy = QPDFObjectHandle::newDictionary();
    if (dictionary.isDictionary())
        for (const auto &entry : dictionary.getDictAsMap()) copy.replaceKey(entry.first, entry.second);
    return copy;
}

// The earlier /VRI entries as they were, with this run's entries added; an
// entry for a signature that had one keeps its earlier items too.
QPDFObjectHandle vri_dictionary(const SecurityStore &store, const ItemReferences &references,
                                const EarlierStore &earlier) {
    QPDFObjectHandle vri = copy_of(earlier.vri);
    for (const SignatureEntry &signature : store.signatures) {
        const std::string key = "/" + signature.vri_key;
        QPDFObjectHandle before = vri.getKey(key);
        QPDFObjectHandle entry = copy_of(before);
        put_if_any(entry, "/Cert", items_of(before, "/Cert"), at(references.certs, signature.certs));
        put_if_any(entry, "/OCSP", items_of(before, "/OCSP"), at(references.ocsps, signature.ocsps));
        put_if_any(entry, "/CRL", items_of(before, "/CRL"), at(references.crls, signature.crls));
        vri.replaceKey(key, entry);
    }
    return vri;
}

QPDFObjectHandle dss_dictionary(int vri, const ItemReferences &references, const EarlierStore &earlier) {
    QPDFObjectHandle dss = copy_of(earlier.dss);
    dss.replaceKey("/VRI", forward_reference(vri));
    put_if_any(dss, "/Certs", earlier.certs.references, references.certs);
    put_if_any(dss, "/OCSPs", earlier.ocsps.references, references.ocsps);
    put_if_any(dss, "/CRLs", earlier.crls.references, references.crls);
    return dss;
}

// The catalog gains /DSS and the extension level of the store (raised, never
// lowered); nothing else changes.
void point_catalog_at(QPDFObjectHandle catalog, int dss) {
    catalog.replaceKey("/DSS", forward_reference(dss));
    set_adbe_extension(catalog, 5);
}

std::string write_update(QPDF &pdf, const SecurityStore &store, const EarlierStore &earlier, const FileTail &tail,
                         int first) {
    QPDFObjectHandle trailer = pdf.getTrailer();
    QPDFObjectHandle catalog = pdf.getRoot();
    const std::size_t items = store.certs.items().size() + store.crls.items().size() + store.ocsps.items().size();
    if (items > static_cast<std::size_t>(kNewObjectsRoom - 3))
        throw std::runtime_error("The document's signatures carry too many items of LTV data.");
    UpdateWriter writer(tail.size, first, xref_form(trailer));
    writer.append("\r\n");
    ItemReferences references;
    references.certs = write_items(writer, store.certs, earlier.certs);
    references.crls = write_items(writer, store.crls, earlier.crls);
    references.ocsps = write_items(writer, store.ocsps, earlier.ocsps);
    const int vri = writer.allocate();
    const int dss = writer.allocate();
    writer.add_object(vri, serialize(vri_dictionary(store, references, earlier)));
    writer.add_object(dss, serialize(dss_dictionary(vri, references, earlier)));
    point_catalog_at(catalog, dss);
    writer.add_object(catalog.getObjectID(), serialize(catalog), catalog.getGeneration());
    writer.finish(trailer_keeping_info(trailer, catalog, tail.prev));
    return std::move(writer.text());
}

}  // namespace

bool build_dss_update(std::FILE *input, const char *password, const LtvSource &source, std::string &update) {
    if (!input) {
        report("Missing input file for the LTV update.");
        return false;
    }
    FileTail tail;
    if (!read_file_tail(input, tail)) return false;
    QPDF pdf;
    open_document(pdf, input, password);
    // Harmless blemishes of the input are accepted, as when signing; damage, or
    // a blemish in an object the update writes again or reads, refuses it.
    InputWarnings warnings;
    warnings.collect(pdf);
    try {
        SecurityStore store;
        std::set<QPDFObjGen> relied_on;
        // A /Size out of range is refused before any fetch.
        const int first = first_new_object_number(pdf, pdf.getTrailer());
        DocumentMaterial document;
        if (!signed_contents(pdf, document.signatures, relied_on)) return false;
        const EarlierStore earlier = read_earlier_store(pdf.getRoot(), relied_on);
        for (const std::string &bytes : earlier.certs.bytes)
            if (!bytes.empty()) document.store_certificates.push_back(bytes);
        if (!gather(document, source, store)) return false;
        warnings.collect(pdf);
        warnings.refuse_about(relied_on);
        update = write_update(pdf, store, earlier, tail, first);
    } catch (const QPDFExc &e) {
        throw std::runtime_error(std::string("The input PDF cannot be read: ") + e.getMessageDetail());
    }
    return true;
}

}  // namespace qs
