// The signature dictionary with its /Contents placeholder and /ByteRange, and
// the loop that settles the placeholder's offset a.
#pragma once

#include <string>
#include <vector>

#include "pdf/field_lock.h"
#include "pdf/qpdf_api.h"

namespace qs {

struct SignatureFields {
    std::string subfilter;  // a name text with its leading slash
    std::string appname;
    std::string reason, location, contact;
    std::string moddate;
    bool certify = false;
    QPDFObjectHandle catalog;  // /Data of the DocMDP and FieldMDP references
    std::vector<FieldLock> locks;  // each a FieldMDP reference (with a DocMDP one for its /P)
    int digits = 0;            // N, the hexadecimal digits reserved for the signature
    // A /DocTimeStamp (sub-filter ETSI.RFC3161) whose /Contents is a timestamp
    // token: no texts, no date and no certification.
    bool document_timestamp = false;
};

// The dictionary without its /ByteRange (set while settling).
QPDFObjectHandle signature_dictionary(const SignatureFields &fields);

// The name that holds the place of c in /ByteRange: width characters, "_XXX_" for 5.
std::string range_placeholder(int width);

struct SettledSignature {
    std::string body;          // serialized dictionary
    std::size_t contents = 0;  // position of the placeholder's "<" in the framed object text
    long a = 0;                // absolute offset of that "<"
};

// Serializes the dictionary of object number, which starts at offset, until
// the offset a written in /ByteRange is the offset of the placeholder's "<".
SettledSignature settle_signature(QPDFObjectHandle dictionary, int number, long offset, int digits,
                                  int width);

// Writes c (padded with blanks to width) over the range placeholder and the
// N "0" digits over the placeholder's bytes. The signature object starts at
// position object in text, its placeholder's "<" at position contents.
void fill_signature_placeholders(std::string &text, std::size_t object, std::size_t contents,
                                 int digits, long c, int width);

}  // namespace qs
