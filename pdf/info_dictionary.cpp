// The information dictionary: producer suffix (UTF-16BE aware), modification
// date, title, author, subject, keywords; and the document identifier.
#include "pdf/info_dictionary.h"

#include "core/base/text.h"
#include "pdf/text_string.h"
#include "pdf/xref_writer.h"

namespace qs {

namespace {

void set_text(QPDFObjectHandle dictionary, const char *key, const char *value) {
    if (value && value[0] != '\0') dictionary.replaceKey(key, text_string(value));
}

bool is_utf16be(const std::string &text) {
    return text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFE &&
           static_cast<unsigned char>(text[1]) == 0xFF;
}

}  // namespace

std::string producer_suffix(const std::string &appname, const std::string &producer) {
    const std::string suffix = "; signed with " + appname;
    if (!is_utf16be(producer)) return suffix;
    std::string wide;
    for (char c : suffix) {
        wide += '\0';
        wide += c;
    }
    return wide;
}

DocumentInfo update_document_info(QPDFObjectHandle trailer, const InfoTexts &texts, int new_number) {
    DocumentInfo info;
    QPDFObjectHandle old = trailer.getKey("/Info");
    if (old.isDictionary() && old.isIndirect()) {
        info.dictionary = old;
        info.number = old.getObjectID();
        info.generation = old.getGeneration();
    } else {
        // No dictionary, or one held directly in the trailer: it becomes a new object.
        info.dictionary = old.isDictionary() ? old : QPDFObjectHandle::newDictionary();
        info.number = new_number;
        info.is_new = true;
    }
    std::string producer = "Unknown";
    QPDFObjectHandle current = info.dictionary.getKey("/Producer");
    if (current.isString()) producer = current.getStringValue();
    info.dictionary.replaceKey(
        "/Producer", QPDFObjectHandle::newString(producer + producer_suffix(texts.appname, producer)));
    info.dictionary.replaceKey("/ModDate", QPDFObjectHandle::newString(texts.moddate));
    set_text(info.dictionary, "/Title", texts.title);
    set_text(info.dictionary, "/Author", texts.author);
    set_text(info.dictionary, "/Subject", texts.subject);
    set_text(info.dictionary, "/Keywords", texts.keywords);
    return info;
}

QPDFObjectHandle document_id(QPDFObjectHandle trailer, const std::string &info_text) {
    const std::string digest = md5(info_text);
    std::string first = digest;
    QPDFObjectHandle old = trailer.getKey("/ID");
    if (old.isArray() && old.getArrayNItems() >= 1 && old.getArrayItem(0).isString())
        first = old.getArrayItem(0).getStringValue();
    QPDFObjectHandle id = QPDFObjectHandle::newArray();
    id.appendItem(QPDFObjectHandle::newString(first));
    id.appendItem(QPDFObjectHandle::newString(digest));
    return id;
}

QPDFObjectHandle trailer_keeping_info(QPDFObjectHandle input_trailer, QPDFObjectHandle catalog, long prev) {
    QPDFObjectHandle info = input_trailer.getKey("/Info");
    QPDFObjectHandle trailer = QPDFObjectHandle::newDictionary();
    trailer.replaceKey("/Prev", QPDFObjectHandle::newInteger(prev));
    trailer.replaceKey("/Root", catalog);
    trailer.replaceKey("/ID", document_id(input_trailer, serialize(info)));
    if (!info.isNull()) trailer.replaceKey("/Info", info);
    return trailer;
}

}  // namespace qs
