// The signing driver for an output that is also encrypted with an open
// password. A signature cannot be encrypted once made, and the encryption
// would encrypt a /Contents string, so the document is prepared in a scratch
// file, its placeholder hidden as a name of the same length, the whole
// document encrypted into the output, the placeholder restored there with the
// /ByteRange of the encrypted file, and that file's ranges signed.
#include <cstdio>
#include <memory>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "core/document_rewrite.h"
#include "core/hidden_placeholder.h"
#include "core/output_path.h"
#include "core/prepared_file.h"
#include "core/signature_steps.h"
#include "crypto/keys/key_store.h"
#include "crypto/signing/byte_range.h"
#include "crypto/signing/signature_room.h"

namespace {

constexpr const char *kDetached = "/adbe.pkcs7.detached";

struct Signer {
    qs::MallocPtr<char> name, serial;
};

int read_signer(SigningConfig *config, Signer &signer) {
    char *name = nullptr, *serial = nullptr;
    const int rc = get_signer_info_internal(config, &name, &serial);
    signer.name.reset(name);
    signer.serial.reset(serial);
    return rc;
}

qs::Encryption encryption_for(const SigningConfig &config, const char *open_password) {
    qs::Encryption encryption;
    encryption.owner_password = config.encpermpwd;
    encryption.user_password = open_password;
    encryption.permissions = qs::map_permissions(
        qs::permission_value(config.encpermaccess), qs::permission_value(config.encpermcopy),
        qs::permission_value(config.encpermprint), qs::permission_value(config.encpermchange),
        qs::permission_value(config.encmetadata));
    encryption.reserve_byte_range = true;
    return encryption;
}

// The key material that signs, and the status archived in the signature,
// settled before the placeholder is sized for them. The signature of an
// encrypted document is a detached one.
int settle_inputs(SigningConfig *config, int timestamp, qs::SignatureInputs &inputs, int &N) {
    qs::copy_field(config->subfilter, kDetached);
    int estimate = 0;
    if (calculate_byte_range(config, timestamp, &estimate) < 0) return -1;
    if (qs::load_signer_keys(config, inputs.keys) < 0 || qs::settle_archived_status(config, inputs) < 0) return -1;
    return qs::placeholder_for(*config, timestamp, inputs, estimate, N);
}

// Prepares the signature update in a scratch file beside the output, hides
// its placeholder and writes the encrypted document into output. The scratch
// file holds the document unencrypted: it is private to the owner and gone
// when this returns, whatever happened. where receives the placeholder.
int encrypt_prepared(qs::FilePtr &input, const char *output_path, std::FILE *output,
                     const qs::DocumentTexts &texts, int visible, const char *open_password,
                     int timestamp, SigningConfig *config, qs::SignatureInputs &inputs, qs::Placeholder &where) {
    qs::InputState opened;
    if (!qs::note_input(input.get(), opened) || qs::refuse_signed_document(input.get()) < 0) return -1;
    Signer signer;
    if (int rc = read_signer(config, signer); rc < 0) return rc;
    int N = 0;
    if (settle_inputs(config, timestamp, inputs, N) < 0) return -1;

    qs::PendingOutput scratch(output_path, qs::PendingOutput::Use::Scratch);
    if (!scratch.get()) return -1;
    if (qs::rewind_files(input.get(), scratch.get()) < 0) return -1;
    qs::settle_page_and_appname(config);
    // An encrypted document is never certified: its signature is an approval one.
    if (qs::write_prepared_file(config, input.get(), scratch.get(), texts, {signer.name.get(), signer.serial.get()},
                                visible, 0, N, opened, nullptr, where) < 0)
        return -1;
    input.reset();

    if (qs::hide_placeholder(scratch.get(), where) < 0) return -1;
    return qs::encrypt_document(scratch.get(), output, encryption_for(*config, open_password));
}

int sign_and_encrypt(qs::FilePtr &input, const char *output_path, std::FILE *output,
                     const qs::DocumentTexts &texts, int visible, const char *open_password, int timestamp,
                     SigningConfig *config) {
    qs::SignatureInputs inputs;
    qs::Placeholder where;
    if (int rc = qs::prepare_encrypted_signature(input, output_path, output, texts, visible, open_password,
                                                 timestamp, config, inputs, where);
        rc < 0)
        return rc;
    if (int rc = qs::fill_placeholder(config, output, where.a, where.b, where.c, where.N, timestamp, &inputs); rc < 0)
        return rc;
    qs::note_new_field(*config, where);
    return 0;
}

}  // namespace

namespace qs {

int prepare_encrypted_signature(FilePtr &input, const char *output_path, std::FILE *output,
                                const DocumentTexts &texts, int visible, const char *open_password, int timestamp,
                                SigningConfig *config, SignatureInputs &inputs, Placeholder &where) {
    Placeholder prepared;
    if (int rc = encrypt_prepared(input, output_path, output, texts, visible, open_password, timestamp, config,
                                  inputs, prepared);
        rc < 0)
        return rc;
    if (restore_placeholder(output, open_password, prepared.N, where) < 0) return -1;
    where.new_field = prepared.new_field;
    return 0;
}

}  // namespace qs

extern "C" {

QS_API int sign_encrypt(const char *input, const char *output, const char *location, const char *reason,
                        const char *open_password, int visible, const char *title, const char *author,
                        const char *subject, const char *keywords, int timestamp, int /*certify*/,
                        SigningConfig *config) {
    return qs::guarded([&]() -> int {
        if (!input || !output || !config) {
            qs::report("Missing input path, output path or configuration.");
            return -1;
        }
        if (!open_password || open_password[0] == '\0') {
            qs::report("An encrypted output needs an open password.");
            return -1;
        }
        if (qs::refuse_unusable_output(input, output) < 0) return -1;

        qs::FilePtr in = qs::open_input_file(input);
        if (!in) return -1;
        qs::PendingOutput out(output);
        if (!out.get()) return -1;
        handle_debug_message(config, qs::format("Signing and encrypting %s into %s", input, output).c_str());
        int rc = sign_and_encrypt(in, output, out.get(), {location, reason, title, author, subject, keywords},
                                  visible, open_password, timestamp, config);
        if (rc == 0 && !out.keep()) rc = -1;
        handle_debug_message(config, rc == 0 ? "Document signed and encrypted"
                                             : qs::format("Signing with encryption failed with %d", rc).c_str());
        return rc;
    });
}

}  // extern "C"
