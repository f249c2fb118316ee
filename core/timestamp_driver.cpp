// The document timestamp driver: configuration, an update that adds a
// /DocTimeStamp field, the input copied with the update appended, then a
// timestamp token over the digest of the signed ranges written into its
// placeholder. The token's size is only known once it is granted: when it
// does not fit, the document is prepared again with room for it and a new
// token requested.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "core/output_path.h"
#include "core/prepared_file.h"
#include "core/storeless_config.h"
#include "crypto/digest.h"
#include "crypto/hex.h"
#include "crypto/signing/byte_range.h"
#include "crypto/timestamps/timestamp_token.h"

namespace {

// Room for a token with its authority's certificate chain; what is granted
// beyond it is made room for on a second round.
constexpr long kTokenDigits = 12000;
constexpr long kTokenSpare = 2000;
constexpr int kRounds = 2;

long round_up(long digits) { return (digits + 99) / 100 * 100; }

// The placeholder of the first round: the allowance and extrarange.
int first_guess(const SigningConfig &config, int &N) {
    long extra = 0;
    if (!qs::parse_extrarange(config.extrarange, extra)) return -1;
    const long digits = round_up(kTokenDigits + (extra > 0 ? extra : 0));
    N = static_cast<int>(digits);
    return 0;
}

// The imprint's digest: the configured one, but never SHA-1.
const char *imprint_name(const SigningConfig &config) {
    return std::strcmp(config.hashalgo, "SHA1") == 0 ? "SHA256" : config.hashalgo;
}

// Starts output afresh: the caller's file is written from its start.
int restart_output(std::FILE *input, std::FILE *output) {
    if (qs::rewind_files(input, output) < 0) return -1;
    if (ftruncate(fileno(output), 0) != 0) {
        qs::report("The output file cannot be emptied for the document timestamp.");
        return -1;
    }
    return 0;
}

// One round: prepare the output with N digits of room, hashing its signed
// ranges as they are written, and request the token. hex receives the
// granted token's hex text.
int prepare_and_stamp(SigningConfig *config, std::FILE *input, std::FILE *output, int N,
                      const qs::InputState &opened, qs::Placeholder &where, std::string &hex) {
    if (restart_output(input, output) < 0) return -1;
    const char *name = imprint_name(*config);
    qs::RunningDigest ranges;
    std::vector<unsigned char> digest;
    if (!ranges.start(name) || qs::write_timestamp_file(config, input, output, N, opened, &ranges, where) < 0 ||
        ranges.finish(digest) < 0)
        return -1;
    std::string token;
    if (qs::fetch_timestamp_token(config, EVP_get_digestbyname(name), digest, token) < 0) return -1;
    hex = qs::lower_hex(reinterpret_cast<const unsigned char *>(token.data()), token.size());
    return 0;
}

int run_timestamp_io(std::FILE *input, std::FILE *output, SigningConfig *config) {
    if (tsa_ok(config, 1) < 0) return -1;
    qs::InputState opened;
    if (!qs::note_input(input, opened)) return -1;
    int N = 0;
    if (first_guess(*config, N) < 0) return -1;
    for (int round = 1;; ++round) {
        qs::Placeholder where;
        std::string hex;
        if (prepare_and_stamp(config, input, output, N, opened, where, hex) < 0) return -1;
        if (static_cast<long>(hex.size()) <= N || round == kRounds)
            return qs::write_signature_text(output, where.a, where.b, hex);
        handle_debug_message(config, qs::format("The timestamp token needs %zu digits; preparing again",
                                                hex.size()).c_str());
        N = static_cast<int>(round_up(static_cast<long>(hex.size()) + kTokenSpare));
    }
}

}  // namespace

extern "C" {

QS_API int timestamp_document(const char *input, const char *output, const char *configuration) {
    return qs::guarded([&]() -> int {
        if (!input || !output) {
            qs::report("Missing input path or output path.");
            return -1;
        }
        // A document timestamp needs no key store.
        qs::ConfigPtr config = qs::read_storeless_config(configuration);
        if (!config) return -1;
        if (tsa_ok(config.get(), 1) < 0) return -1;
        if (qs::refuse_unusable_output(input, output) < 0) return -1;

        qs::FilePtr in = qs::open_input_file(input);
        if (!in) return -1;
        qs::PendingOutput out(output);
        if (!out.get()) return -1;
        handle_debug_message(config.get(), qs::format("Timestamping %s into %s", input, output).c_str());
        int rc = run_timestamp_io(in.get(), out.get(), config.get());
        in.reset();
        if (rc == 0 && !out.keep()) rc = -1;
        handle_debug_message(config.get(), rc == 0 ? "Document timestamped" : "Timestamping failed");
        return rc;
    });
}

QS_API int timestamp_document_io(FILE *input, FILE *output, SigningConfig *config) {
    return qs::guarded([&]() -> int {
        if (!input || !output || !config) {
            qs::report("Missing input file, output file or configuration.");
            return -1;
        }
        return run_timestamp_io(input, output, config);
    });
}

}  // extern "C"
