// The document information dictionary of a signature update and the
// document identifier derived from it.
#pragma once

#include <string>

#include "pdf/qpdf_api.h"

namespace qs {

// The texts a signing request puts into the information dictionary; a null
// or empty text leaves its key untouched.
struct InfoTexts {
    std::string appname;   // "; signed with <appname>" is added to /Producer
    std::string moddate;   // PDF date for /ModDate
    const char *title = nullptr;
    const char *author = nullptr;
    const char *subject = nullptr;
    const char *keywords = nullptr;
};

struct DocumentInfo {
    QPDFObjectHandle dictionary;  // the updated dictionary
    int number = 0;               // object number it is written under
    int generation = 0;
    bool is_new = false;          // true: a new object the trailer refers to by placeholder
};

// "; signed with <appname>", in UTF-16BE (a zero byte before each byte) when
// the producer text carries the UTF-16BE byte-order mark.
std::string producer_suffix(const std::string &appname, const std::string &producer);

// Updates the trailer's information dictionary (or starts one) with the
// producer suffix, /ModDate and the given texts. A dictionary that has no
// object of its own takes number new_number.
DocumentInfo update_document_info(QPDFObjectHandle trailer, const InfoTexts &texts, int new_number);

// /ID of the update: the old first identifier (or the digest when there is
// none) and the MD5 digest of the serialized information dictionary.
QPDFObjectHandle document_id(QPDFObjectHandle trailer, const std::string &info_text);

// The trailer dictionary of an update that leaves the document information
// as the input has it: /Prev, /Root, /ID and the input's /Info.
QPDFObjectHandle trailer_keeping_info(QPDFObjectHandle input_trailer, QPDFObjectHandle catalog, long prev);

}  // namespace qs
