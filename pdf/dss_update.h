// The Document Security Store update of a signed document, built in memory.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

// One certificate, OCSP response or CRL: a name that identifies it (the same
// item of two signatures has the same name) and its DER bytes.
struct LtvItem {
    std::string name;
    std::string der;
};

struct LtvSignatureData {
    std::string vri_key;  // uppercase hex SHA-1 of the signature's /Contents bytes
    std::vector<LtvItem> certs, crls, ocsps;
};

// What the document holds besides one signature that may name the issuer of a
// certificate: the /Contents bytes of every signature and document timestamp,
// and the DER of every certificate of the store the document already has.
struct DocumentMaterial {
    std::vector<std::string> signatures;
    std::vector<std::string> store_certificates;
};

// Gathers the LTV data of the signature whose /Contents bytes are given;
// false when it cannot (reported).
using LtvSource =
    std::function<bool(std::string_view contents, const DocumentMaterial &document, LtvSignatureData &data)>;

// Builds the update that gives input a DSS: one stream per distinct
// certificate, CRL and OCSP response of its signatures, the VRI dictionary
// with one entry per signature, the DSS dictionary, the catalog with /DSS and
// /Extensions, and the cross-reference section. Nothing else of the document
// changes. False with the message reported when the document has no signature
// field, a signature's data cannot be had, or no signature has any
// revocation data (only self-signed certificates).
bool build_dss_update(std::FILE *input, const char *password, const LtvSource &source, std::string &update);

}  // namespace qs
