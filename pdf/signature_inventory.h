// Every signature and document timestamp of a document as its form lists
// them, and the validation data of its Document Security Store: what a
// validation report reads from the PDF before it looks at any signature.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "pdf/qpdf_api.h"

namespace qs {

struct SignatureEntry {
    std::string field;         // the field's name (/T), UTF-8
    bool document_timestamp = false;  // /Type /DocTimeStamp or sub-filter ETSI.RFC3161
    std::string subfilter;     // without its slash; empty when absent
    std::string claimed_time;  // /M as written, empty when absent
    int certification = 0;     // the DocMDP /P level of a certification signature, else 0
    long range[4] = {-1, -1, -1, -1};
    bool range_readable = false;  // /ByteRange is exactly four integers
};

// The DocMDP level (/P) a signature value sets: that of its own DocMDP
// reference, 2 for the value the catalog's /Perms /DocMDP names without one;
// 0 when it sets none.
int certification_level(QPDFObjectHandle catalog, QPDFObjectHandle value);

// The document in an open file as qpdf reads it, repairs allowed; false,
// reported, when it cannot be read.
bool read_whole_document(std::FILE *file, QPDF &pdf);

// The four numbers of a /ByteRange value; false when it is not exactly four integers.
bool read_byte_range(QPDFObjectHandle value, long range[4]);

// The signed fields of the form (with /Kids followed), oldest first: in the
// order their signed ranges end, those whose /ByteRange cannot be read last.
std::vector<SignatureEntry> list_signatures(QPDF &pdf);

// The DER items of the document's security store.
struct StoreContents {
    std::vector<std::string> certs, ocsps, crls;
};

StoreContents read_security_store(QPDF &pdf);

}  // namespace qs
