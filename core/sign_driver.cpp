// The one-shot signing driver: configuration, prepare the update, copy the
// input and append the update, then hash, sign and fill the placeholder.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <quillseal/quillseal.h>

#include "core/guard.h"
#include "core/handles.h"
#include "core/input_file.h"
#include "core/output_path.h"
#include "core/text.h"
#include "crypto/byte_range.h"
#include "crypto/key_store.h"

namespace {

constexpr const char *kVersion = "v2.7.1";
constexpr const char *kEveryPage = "-123456";

struct SignerText {
    char subject[512] = "";
    char serial[qs::kTextField] = "";
    char name[qs::kTextField] = "";
};

struct SignatureImage {
    int width = 0, height = 0, bits = 0;
    qs::MallocPtr<unsigned char> rgb, alpha;
};

// A PKCS#12 store is loaded once per document: the subject and serial are
// read from the material that later signs. A device's certificate comes from
// its signer PEM file; its key is reached through the engine when signing.
int read_signer(SigningConfig *config, qs::KeyMaterial &keys, SignerText &signer) {
    if (qs::is_device_store(*config)) {
        const int rc = get_x509_subject_and_sn(config->certfiledata, config->certfile, config->certpasswd,
                                               config->signerpem, config->certstore, signer.subject,
                                               signer.serial);
        if (rc < 0) return rc;
    } else {
        if (qs::load_signer_keys(config, keys, "Error in BIO_write()...") < 0) return -1;
        get_x509_subject_and_sn_from_openssl_cert(keys.cert.get(), signer.subject, signer.serial);
    }
    return get_x509_subject_name(signer.subject, signer.name);
}

int read_image(SigningConfig *config, SignatureImage &image) {
    unsigned char *rgb = nullptr, *alpha = nullptr;
    const int rc = get_png_data(config->sigimage, &image.width, &image.height, &image.bits, &rgb, &alpha);
    image.rgb.reset(rgb);
    image.alpha.reset(alpha);
    return rc < 0 ? -1 : 0;
}

// Copies the whole input to the output and appends the update after it.
// A failure here is reported as well, so that the front end never shows the
// text of an earlier operation; the system error, when set, follows the report.
int copy_and_append(FILE *input, FILE *output, const char *update, long length) {
    const long size = getFileSize(input);
    if (size < 0 || copy_file_section(input, output, 0, size) < 0) {
        const int saved = errno;
        qs::report("Error copying the input document into the output file.");
        errno = saved;
        return -1;
    }
    if (std::fwrite(update, 1, static_cast<size_t>(length), output) != static_cast<size_t>(length) ||
        std::fflush(output) != 0) {
        const int saved = errno;
        qs::report("Error writing the signature update to the output file.");
        errno = saved;
        return -1;
    }
    return 0;
}

int run_sign_io(FILE *input, FILE *output, const char *location, const char *reason, int visible,
                const char *title, const char *author, const char *subject, const char *keywords,
                int timestamp, int certify, SigningConfig *config) {
    if (std::fseek(input, 0, SEEK_SET) != 0 || std::fseek(output, 0, SEEK_SET) != 0) {
        qs::report("The input or output file cannot be positioned.");
        return -1;
    }

    if (std::strcmp(config->sigpage, "*") == 0) qs::copy_field(config->sigpage, kEveryPage);
    const int page = std::atoi(config->sigpage);
    const int image = (visible && config->sigimage[0] != '\0') ? 1 : 0;

    int N = 0;
    if (calculate_byte_range(config, timestamp, &N) < 0) return -1;

    char reason_copy[qs::kTextField];
    qs::copy_field(reason_copy, qs::cut_text(qs::view(reason), sizeof reason_copy - 1));  // whole characters
    if (config->appname[0] == '\0') qs::copy_field(config->appname, qs::format("Quillseal %s", kVersion));

    qs::KeyMaterial keys;  // released when this document is done
    SignerText signer;
    if (int rc = read_signer(config, keys, signer); rc < 0) return rc;

    SignatureImage picture;
    if (image && read_image(config, picture) < 0) return -1;

    long length = -1, a = 0, c = 0;
    qs::MallocPtr<char> update(qpdf_incremental_update(
        config, input, "", &length, title, author, subject, keywords, &a, &c, N, visible, certify,
        reason_copy, location, signer.name, page, signer.serial, image, picture.width,
        picture.height, picture.rgb.get(), picture.alpha.get(), picture.bits));
    if (!update || length == -1) return -1;
    const long b = a + N + 2;

    if (copy_and_append(input, output, update.get(), length) < 0) return -1;
    return qs::fill_placeholder(config, output, a, b, c, N, timestamp, keys.key ? &keys : nullptr);
}

}  // namespace

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
        if (qs::refuse_output_over_input(input, output) < 0) return -1;
        if (qs::refuse_output_that_is_no_file(output) < 0) return -1;
        if (open_password && open_password[0] != '\0')
            return sign_encrypt(input, output, location, reason, open_password, visible, title,
                                author, subject, keywords, timestamp, certify, config);

        qs::FilePtr in = qs::open_input_file(input);
        if (!in) return -1;
        std::FILE *created = std::fopen(output, "w+b");
        if (!created) {
            handle_fopen_error_message(output);
            return -1;
        }
        qs::PendingOutput out(output, created);
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
        return run_sign_io(input, output, location, reason, visible, title, author, subject,
                           keywords, timestamp, certify, config);
    });
}

}  // extern "C"
