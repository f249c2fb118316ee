// The two-phase signing driver, for signers whose key is held elsewhere.
// First phase: prepare the output (input copied, signature update appended
// with an unfilled placeholder) and hand out the digest of its signed ranges.
// Second phase: write the signature made elsewhere into that placeholder.
// The prepared file is the only link between the phases.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "core/output_path.h"
#include "core/prepared_file.h"
#include "crypto/digest.h"
#include "crypto/hex.h"
#include "crypto/signing/byte_range.h"
#include "crypto/signing/cms_signer.h"
#include "crypto/signing/signature_room.h"

namespace {

constexpr const char *kDetached = "/adbe.pkcs7.detached";

// The digest of the prepared file's signed ranges, as a malloc'd lowercase hex text.
int hand_out_digest(qs::RunningDigest &ranges, char **digest) {
    std::vector<unsigned char> bytes;
    if (ranges.finish(bytes) < 0) return -1;
    *digest = qs::malloc_text(qs::lower_hex(bytes.data(), bytes.size()));
    if (!*digest) {
        qs::report("Out of memory for the digest text.");
        return -1;
    }
    return 0;
}

int run_sign_start_io(std::FILE *input, std::FILE *output, const qs::DocumentTexts &texts, int visible,
                      const qs::SignerNames &signer, int timestamp, int certify, char **digest,
                      bool prepare_only, SigningConfig *config) {
    if (qs::rewind_files(input, output) < 0) return -1;
    qs::InputState opened;
    if (!qs::note_input(input, opened)) return -1;
    if (prepare_only) qs::copy_field(config->subfilter, kDetached);
    qs::settle_page_and_appname(config);
    // A PAdES signature made elsewhere must still be made with SHA-2: the
    // digest handed out is already of that algorithm.
    if (!prepare_only && qs::is_pades_subfilter(*config) && qs::check_signature_layout(*config) < 0) return -1;

    int estimate = 0;
    if (calculate_byte_range(config, timestamp, &estimate) < 0) return -1;
    // The signature is made elsewhere: the room for it is measured from the
    // configured certificates where they can be had.
    qs::SignatureInputs inputs;
    qs::gather_configured_inputs(config, inputs);
    int N = 0;
    if (qs::placeholder_for(*config, timestamp, inputs, estimate, N) < 0) return -1;

    qs::Placeholder where;
    qs::RunningDigest ranges;
    if (!prepare_only && !ranges.start(config->hashalgo)) return -1;
    if (qs::write_prepared_file(config, input, output, texts, signer, visible, certify, N, opened,
                                prepare_only ? nullptr : &ranges, where) < 0)
        return -1;
    if (!prepare_only && hand_out_digest(ranges, digest) < 0) return -1;
    qs::note_new_field(*config, where);
    return 0;
}

// A placeholder that still holds nothing but "0" digits: the file was prepared
// for a signature and has not received one. Read in blocks, whatever its size.
bool placeholder_unfilled(std::FILE *file, long a, long b) {
    std::vector<char> block(64 * 1024);
    long left = b - a - 2;
    if (std::fseek(file, a + 1, SEEK_SET) != 0) return false;
    while (left > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<long>(left, static_cast<long>(block.size())));
        if (std::fread(block.data(), 1, want, file) != want) return false;
        const auto end = block.begin() + static_cast<std::ptrdiff_t>(want);
        if (!std::all_of(block.begin(), end, [](char digit) { return digit == '0'; })) return false;
        left -= static_cast<long>(want);
    }
    return true;
}

// The signature text is hex digits in whole pairs, as the DER bytes it spells;
// anything else would break the string it is written into.
int check_signature_text(const char *signature) {
    const std::string_view text = qs::view(signature);
    if (text.empty()) {
        qs::report("The signature text is empty.");
        return -1;
    }
    if (text.size() % 2 != 0 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
        qs::report("The signature text is not hexadecimal digits in whole pairs.");
        return -1;
    }
    return 0;
}

// The second phase on an open file. prepared tells the caller whether the file
// was found to be a prepared file, one that the failure may then remove; any
// other file is refused and left as it is.
int finish_signature(std::FILE *file, const char *signature, bool &prepared) {
    prepared = false;
    long range[4];
    int object = 0;
    if (qpdf_get_byte_range(file, "", range, &object) < 0) return -1;
    const long a = range[1], b = range[2], c = range[3];
    if (range[0] != 0) {
        qs::report("The signature byte range does not start at the beginning of the file.");
        return -1;
    }
    if (qs::check_placeholder(file, a, b, c) < 0) return -1;
    if (!placeholder_unfilled(file, a, b)) {
        qs::report("The signature placeholder of this file is filled already; start the two-phase signing again.");
        return -1;
    }
    prepared = true;
    if (check_signature_text(signature) < 0) return -1;
    return qs::write_signature_text(file, a, b, signature);
}

}  // namespace

extern "C" {

QS_API int sign_start(const char *input, const char *output, const char *location, const char *reason,
                      int visible, const char *title, const char *author, const char *subject,
                      const char *keywords, const char *configuration, const char *signer_name,
                      const char *serial, int certify, char **digest) {
    return qs::guarded([&]() -> int {
        if (digest) *digest = nullptr;
        SigningConfig *raw = nullptr;
        const int rc = read_config(configuration ? configuration : "", &raw);
        std::unique_ptr<SigningConfig, decltype(&free_config)> config(raw, &free_config);
        if (rc < 0) return rc;
        if (!input || !output || !digest) {
            qs::report("Missing input path, output path or place for the digest.");
            return -1;
        }
        if (qs::refuse_unusable_output(input, output) < 0) return -1;

        qs::FilePtr in = qs::open_input_file(input);
        if (!in) return -1;
        // The prepared file appears whole at the output path or not at all; the
        // second phase then completes it in place.
        qs::PendingOutput out(output);
        if (!out.get()) return -1;
        handle_debug_message(config.get(), qs::format("Preparing %s into %s for a signature made elsewhere",
                                                      input, output).c_str());
        char *text = nullptr;
        // A signature made elsewhere carries no timestamp fetched here.
        int result = sign_start_io(in.get(), out.get(), location, reason, visible, title, author, subject,
                                   keywords, signer_name, serial, 0, certify, &text, 0, config.get());
        qs::MallocPtr<char> hex(text);
        in.reset();
        if (result == 0 && !out.keep()) result = -1;
        handle_debug_message(config.get(), result == 0 ? "Document prepared"
                                                       : qs::format("Preparing failed with %d", result).c_str());
        if (result == 0) *digest = hex.release();
        return result;
    });
}

QS_API int sign_start_io(FILE *input, FILE *output, const char *location, const char *reason, int visible,
                         const char *title, const char *author, const char *subject, const char *keywords,
                         const char *signer_name, const char *serial, int timestamp, int certify,
                         char **digest, int prepare_only, SigningConfig *config) {
    return qs::guarded([&]() -> int {
        if (digest) *digest = nullptr;
        if (!input || !output || !config || (!prepare_only && !digest)) {
            qs::report("Missing input file, output file, configuration or place for the digest.");
            return -1;
        }
        return run_sign_start_io(input, output, {location, reason, title, author, subject, keywords}, visible,
                                 {signer_name ? signer_name : "", serial ? serial : ""}, timestamp, certify,
                                 digest, prepare_only != 0, config);
    });
}

QS_API int sign_end(const char *prepared, const char *signature) {
    return qs::guarded([&]() -> int {
        if (!prepared) {
            qs::report("No prepared file was given.");
            return -1;
        }
        qs::FilePtr file = qs::open_input_file(prepared, qs::OpenFor::Update);
        if (!file) return -1;
        bool is_prepared = false;
        int result = finish_signature(file.get(), signature, is_prepared);
        if (std::fclose(file.release()) != 0 && result == 0) {
            qs::report("Error closing the signed file.");
            result = -1;
        }
        // A prepared file whose second phase failed is of no further use: the
        // whole two-phase signing starts again.
        if (result < 0 && is_prepared) std::remove(prepared);
        return result;
    });
}

QS_API int sign_end_io(FILE *prepared, const char *signature) {
    return qs::guarded([&]() -> int {
        if (!prepared) {
            qs::report("No prepared file was given.");
            return -1;
        }
        bool is_prepared = false;
        return finish_signature(prepared, signature, is_prepared);
    });
}

}  // extern "C"
