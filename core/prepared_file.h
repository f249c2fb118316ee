// The prepared file that both signing drivers start from: the input copied
// unchanged, followed by the signature update with its unfilled placeholder.
#pragma once

#include <cstdio>
#include <string_view>

#include <quillseal/config.h>

#include "core/base/input_file.h"
#include "crypto/digest.h"
#include "crypto/signing/byte_range.h"

namespace qs {

// The texts a signature writes into the document.
struct DocumentTexts {
    const char *location, *reason, *title, *author, *subject, *keywords;
};

// The signer as the signature field names it.
struct SignerNames {
    const char *name, *serial;
};

// The note a signature leaves when the field its configuration names was
// made for it, rather than found in the form: "New signature field: NAME";
// new_field_note gives its text (empty for a field that was found).
std::string new_field_note(const SigningConfig &config, const Placeholder &where);
void note_new_field(const SigningConfig &config, const Placeholder &where);

// Copies the whole input, still as opened noted it, to the output and
// appends update after it. A failure here is reported as well (what names the
// update), so that the front end never shows the text of an earlier
// operation; the system error, when set, follows the report.
int append_to_copy(std::FILE *input, std::FILE *output, std::string_view update, const InputState &opened,
                   const char *what);

// Positions both files at their start.
int rewind_files(std::FILE *input, std::FILE *output);

// A page of "*" becomes the every-page request; an empty appname becomes the
// product's own name (it ends up in the document's producer text).
void settle_page_and_appname(SigningConfig *config);

// Builds the signature update of input for a placeholder of N digits (reading
// the signature image when the signature is visible and one is configured),
// copies input to output and appends the update. where receives the
// placeholder. The input must still be as opened noted it: one that changed
// meanwhile, or changes while it is copied, is refused. digest, when given,
// receives the signed ranges as they are written (the input as it is copied,
// then the update's bytes around the placeholder from memory), so that the
// output is never read back to hash it.
int write_prepared_file(SigningConfig *config, std::FILE *input, std::FILE *output,
                        const DocumentTexts &texts, const SignerNames &signer, int visible,
                        int certify, int N, const InputState &opened, RunningDigest *digest, Placeholder &where);

// The same for a document timestamp: an invisible /DocTimeStamp field whose
// placeholder holds N digits.
int write_timestamp_file(SigningConfig *config, std::FILE *input, std::FILE *output, int N,
                         const InputState &opened, RunningDigest *digest, Placeholder &where);

}  // namespace qs
