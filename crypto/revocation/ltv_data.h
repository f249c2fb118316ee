// The long-term-validation data of one signature: the certificates it
// carries, with an OCSP response and a CRL for each where they can be had.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <quillseal/config.h>

#include "crypto/revocation/http_exchange.h"
#include "pdf/dss_update.h"

namespace qs {

// Where and how the data is gathered.
struct LtvContext {
    std::string cachedir = "/tmp";
    HttpLimits limits;
    SigningConfig *log = nullptr;  // the debug log's settings; none: no log
    // PEM files of certificates that may issue the signature's certificates
    // (the configuration's capem and trustca); empty: none.
    std::string capem, trustca;
};

// Gathers the data of the signature whose /Contents bytes are given. Every
// certificate of the signature that is not self-signed gets its OCSP
// response and its CRL; a certificate for which neither can be had, a CRL
// that cannot be fetched, or bytes that are no signature fail the whole
// signature (false, reported), and so does a cache directory that may not be
// used (cache_directory_problem). OCSP problems that leave the CRL standing
// are written to the debug log only. A certificate's issuer is looked for in
// the signature, then in the rest of the document and the context's PEM files.
bool collect_ltv_data(std::string_view contents, const DocumentMaterial &document, const LtvContext &context,
                      LtvSignatureData &data);

}  // namespace qs
