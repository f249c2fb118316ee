// The one-shot signing driver: configuration, prepare the update, copy the
// input and append the update, then hash, sign and fill the placeholder. The
// document is built in a file of its own that becomes the output only whole.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "core/output_path.h"
#include "core/prepared_file.h"
#include "core/signature_steps.h"
#include "crypto/keys/key_store.h"
#include "crypto/signing/byte_range.h"
#include "crypto/signing/cms_signer.h"
#include "crypto/signing/signature_room.h"

namespace {

struct SignerText {
    char subject[512] = "";
    char serial[qs::kTextField] = "";
    char name[qs::kTextField] = "";
};

// The key material is loaded once per document, before anything is
// written: the subject and serial are read from it (a device's from its
// signer PEM file), the placeholder is sized from it, and it signs.
int read_signer(SigningConfig *config, qs::KeyMaterial &keys, SignerText &signer) {
    if (qs::is_device_store(*config)) {
        const int rc = get_x509_subject_and_sn(config->certfiledata, config->certfile, config->certpasswd,
                                               config->signerpem, config->certstore, signer.subject,
                                               signer.serial);
        if (rc < 0) return rc;
        if (qs::load_signer_keys(config, keys) < 0) return -1;
    } else {
        if (qs::load_signer_keys(config, keys, "Error in BIO_write()...") < 0) return -1;
        get_x509_subject_and_sn_from_openssl_cert(keys.cert.get(), signer.subject, signer.serial);
    }
    return get_x509_subject_name(signer.subject, signer.name);
}

int run_sign_io(FILE *input, FILE *output, const qs::DocumentTexts &texts, int visible, int timestamp,
                int certify, SigningConfig *config) {
    qs::SignatureInputs inputs;  // released when this document is done
    qs::Placeholder where;
    std::vector<unsigned char> digest;
    if (int rc = qs::prepare_signature(input, output, texts, visible, timestamp, certify, config, inputs, where,
                                       digest);
        rc < 0)
        return rc;
    if (int rc = qs::fill_placeholder(config, output, where.a, where.b, where.c, where.N, timestamp, &inputs, &digest);
        rc < 0)
        return rc;
    qs::note_new_field(*config, where);
    return 0;
}

}  // namespace

namespace qs {

int prepare_signature(std::FILE *input, std::FILE *output, const DocumentTexts &texts, int visible, int timestamp,
                      int certify, SigningConfig *config, SignatureInputs &inputs, Placeholder &where,
                      std::vector<unsigned char> &digest) {
    if (rewind_files(input, output) < 0) return -1;
    InputState opened;
    if (!note_input(input, opened)) return -1;
    settle_page_and_appname(config);
    if (check_signature_layout(*config) < 0) return -1;

    int estimate = 0;
    if (calculate_byte_range(config, timestamp, &estimate) < 0) return -1;

    SignerText signer;
    if (int rc = read_signer(config, inputs.keys, signer); rc < 0) return rc;
    // The status archived in the signature is asked for before the placeholder is sized for it.
    if (settle_archived_status(config, inputs) < 0) return -1;
    int N = 0;
    if (placeholder_for(*config, timestamp, inputs, estimate, N) < 0) return -1;

    RunningDigest ranges;
    if (!ranges.start(config->hashalgo) ||
        write_prepared_file(config, input, output, texts, {signer.name, signer.serial}, visible, certify, N, opened,
                            &ranges, where) < 0 ||
        ranges.finish(digest) < 0)
        return -1;
    return 0;
}

}  // namespace qs

extern "C" {

QS_API int sign(const char *input, const char *output, const char *location, const char *reason,
                const char *open_password, int visible, const char *title, const char *author,
                const char *subject, const char *keywords, const char *configuration,
                int timestamp, int certify) {
    return qs::guarded([&]() -> int {
        SigningConfig *raw = nullptr;
        const int rc = read_config(configuration ? configuration : "", &raw);
        std::unique_ptr<SigningConfig, decltype(&free_config)> config(raw, &free_config);
        if (rc < 0) return rc;
        if (int ts = tsa_ok(config.get(), timestamp); ts < 0) return ts;
        return sign_internal(input, output, location, reason, open_password, visible, title,
                             author, subject, keywords, timestamp, certify, config.get());
    });
}

QS_API int sign_internal(const char *input, const char *output, const char *location,
                         const char *reason, const char *open_password, int visible,
                         const char *title, const char *author, const char *subject,
                         const char *keywords, int timestamp, int certify,
                         SigningConfig *config) {
    return qs::guarded([&]() -> int {
        if (!input || !output || !config) {
            qs::report("Missing input path, output path or configuration.");
            return -1;
        }
        if (qs::refuse_unusable_output(input, output) < 0) return -1;
        if (open_password && open_password[0] != '\0')
            return sign_encrypt(input, output, location, reason, open_password, visible, title,
                                author, subject, keywords, timestamp, certify, config);

        qs::FilePtr in = qs::open_input_file(input);
        if (!in) return -1;
        qs::PendingOutput out(output);
        if (!out.get()) return -1;
        handle_debug_message(config, qs::format("Signing %s into %s", input, output).c_str());
        int rc = sign_io(in.get(), out.get(), location, reason, visible, title, author, subject,
                         keywords, timestamp, certify, config);
        in.reset();
        if (rc == 0 && !out.keep()) rc = -1;
        handle_debug_message(config, rc == 0 ? "Document signed" : qs::format("Signing failed with %d", rc).c_str());
        return rc;
    });
}

QS_API int sign_io(FILE *input, FILE *output, const char *location, const char *reason,
                   int visible, const char *title, const char *author, const char *subject,
                   const char *keywords, int timestamp, int certify, SigningConfig *config) {
    return qs::guarded([&]() -> int {
        if (!input || !output || !config) {
            qs::report("Missing input file, output file or configuration.");
            return -1;
        }
        return run_sign_io(input, output, {location, reason, title, author, subject, keywords},
                           visible, timestamp, certify, config);
    });
}

}  // extern "C"
