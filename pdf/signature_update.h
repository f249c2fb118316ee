// The signature field incremental update, built in memory.
#pragma once

#include <cstdio>
#include <string>

#include <quillseal/config.h>

#include "pdf/appearance_objects.h"

namespace qs {

// What one signing request asks of the update.
// The field is the one the configuration's sigfield names, when that is
// set: an empty signature field of the form, which receives the signature,
// or else a new field of that name.
struct SignatureRequest {
    const SigningConfig *config = nullptr;
    const char *password = "";
    const char *title = nullptr, *author = nullptr, *subject = nullptr, *keywords = nullptr;
    int digits = 0;  // N
    bool visible = false;
    bool certify = false;
    const char *reason = nullptr, *location = nullptr, *signer_name = nullptr;
    int page = 1;
    const char *serial = nullptr;
    const SignatureImageData *image = nullptr;  // drawn in a visible signature when set
    // A document timestamp: an invisible field whose value is a /DocTimeStamp
    // with the sub-filter ETSI.RFC3161. The document information stays as it
    // is, and a certified document may receive one.
    bool document_timestamp = false;
};

struct SignatureUpdate {
    std::string text;  // the whole update, to be appended to the input
    long a = 0;        // offset of the placeholder's "<" in the output file
    long c = 0;        // bytes after the placeholder's ">" to the end of the output file
    bool new_field = false;  // the field named by sigfield was not in the form and was made
};

// Builds the update for input. False with the message reported on failure.
bool build_signature_update(std::FILE *input, const SignatureRequest &request, SignatureUpdate &update);

}  // namespace qs
