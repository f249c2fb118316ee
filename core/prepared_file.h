// The prepared file that both signing drivers start from: the input copied
// unchanged, followed by the signature update with its unfilled placeholder.
#pragma once

#include <cstdio>

#include <quillseal/config.h>

namespace qs {

// The texts a signature writes into the document.
struct DocumentTexts {
    const char *location, *reason, *title, *author, *subject, *keywords;
};

// The signer as the signature field names it.
struct SignerNames {
    const char *name, *serial;
};

// Where the placeholder of a prepared file lies: /ByteRange [0 a b c] around
// N digits, "<" at a and ">" just before b.
struct Placeholder {
    long a = 0, b = 0, c = 0;
    int N = 0;
    bool new_field = false;  // the field the configuration names was made for the signature
};

// The note a signature leaves when the field its configuration names was
// made for it, rather than found in the form: "New signature field: NAME".
void note_new_field(const SigningConfig &config, const Placeholder &where);

// Copies the whole input to the output and appends the update after it.
// A failure here is reported as well (what names the update), so that the
// front end never shows the text of an earlier operation; the system error,
// when set, follows the report.
int copy_and_append(std::FILE *input, std::FILE *output, const char *update, long length, const char *what);

// Positions both files at their start.
int rewind_files(std::FILE *input, std::FILE *output);

// A page of "*" becomes the every-page request; an empty appname becomes the
// product's own name (it ends up in the document's producer text).
void settle_page_and_appname(SigningConfig *config);

// Builds the signature update of input for a placeholder of N digits (reading
// the signature image when the signature is visible and one is configured),
// copies input to output and appends the update. where receives the placeholder.
int write_prepared_file(SigningConfig *config, std::FILE *input, std::FILE *output,
                        const DocumentTexts &texts, const SignerNames &signer, int visible,
                        int certify, int N, Placeholder &where);

// The same for a document timestamp: an invisible /DocTimeStamp field whose
// placeholder holds N digits.
int write_timestamp_file(SigningConfig *config, std::FILE *input, std::FILE *output, int N, Placeholder &where);

}  // namespace qs
