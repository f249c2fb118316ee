#include "core/prepared_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"
#include "core/base/version.h"
#include "crypto/signing/hashed_copy.h"
#include "pdf/signature_update.h"

namespace qs {
namespace {

constexpr const char *kEveryPage = "-123456";

struct SignatureImage {
    int width = 0, height = 0, bits = 0;
    MallocPtr<unsigned char> rgb, alpha;
};

int read_image(SigningConfig *config, SignatureImage &image) {
    unsigned char *rgb = nullptr, *alpha = nullptr;
    const int rc = get_png_data(config->sigimage, &image.width, &image.height, &image.bits, &rgb, &alpha);
    image.rgb.reset(rgb);
    image.alpha.reset(alpha);
    return rc < 0 ? -1 : 0;
}

// The whole input copied to the output as it is, by the kernel where it can.
int copy_input(std::FILE *input, std::FILE *output, const InputState &opened) {
    if (!input_unchanged(input, opened)) return -1;
    const long size = getFileSize(input);
    if (size < 0 || copy_file_section(input, output, 0, size) < 0) {
        const int saved = errno;
        report("Error copying the input document into the output file.");
        errno = saved;
        return -1;
    }
    return input_unchanged(input, opened) ? 0 : -1;
}

// The update's share of the signed ranges: its bytes before "<" and after ">".
int hash_update(RunningDigest &digest, std::string_view update, long long input_size, const Placeholder &where) {
    const long long before = where.a - input_size, after = where.b - input_size;
    const long long length = static_cast<long long>(update.size());
    if (before < 0 || after < before || after > length || length - after != where.c) {
        report("The signature placeholder is not where the byte range says...");
        return -1;
    }
    if (!digest.add(update.data(), static_cast<std::size_t>(before)) ||
        !digest.add(update.data() + after, static_cast<std::size_t>(length - after))) {
        report("Error computing the document digest...");
        return -1;
    }
    return 0;
}

// The update written after the copy; what names it in the report of a failure.
int write_update(std::FILE *output, std::string_view update, const char *what) {
    if (std::fwrite(update.data(), 1, update.size(), output) != update.size() || std::fflush(output) != 0) {
        const int saved = errno;
        report(std::string("Error writing the ") + what + " to the output file.");
        errno = saved;
        return -1;
    }
    return 0;
}

// Copies the whole input to the output and appends the signature update after
// it, hashing the signed ranges on the way when digest is given. A failure here
// is reported as well, so that the front end never shows the text of an
// earlier operation; the system error, when set, follows the report.
int copy_and_append(std::FILE *input, std::FILE *output, std::string_view update, const InputState &opened,
                    RunningDigest *digest, const Placeholder &where) {
    if ((digest ? copy_and_hash(input, output, opened, *digest) : copy_input(input, output, opened)) < 0) return -1;
    if (write_update(output, update, "signature update") < 0) return -1;
    return digest ? hash_update(*digest, update, opened.size, where) : 0;
}

// The placeholder of an update of N digits, and whether it made its field.
void place(const SignatureUpdate &update, int N, Placeholder &where) {
    where.a = update.a;
    where.c = update.c;
    where.N = N;
    where.b = where.a + N + 2;
    where.new_field = update.new_field;
}

}  // namespace

int append_to_copy(std::FILE *input, std::FILE *output, std::string_view update, const InputState &opened,
                   const char *what) {
    if (copy_input(input, output, opened) < 0) return -1;
    return write_update(output, update, what);
}

std::string new_field_note(const SigningConfig &config, const Placeholder &where) {
    return where.new_field ? std::string("New signature field: ") + config.sigfield : std::string();
}

void note_new_field(const SigningConfig &config, const Placeholder &where) {
    if (where.new_field) leave_note(new_field_note(config, where));
}

int rewind_files(std::FILE *input, std::FILE *output) {
    if (std::fseek(input, 0, SEEK_SET) != 0 || std::fseek(output, 0, SEEK_SET) != 0) {
        report("The input or output file cannot be positioned.");
        return -1;
    }
    return 0;
}

void settle_page_and_appname(SigningConfig *config) {
    if (std::strcmp(config->sigpage, "*") == 0) copy_field(config->sigpage, kEveryPage);
    if (config->appname[0] == '\0') copy_field(config->appname, std::string(kProductVersion));
}

int write_prepared_file(SigningConfig *config, std::FILE *input, std::FILE *output,
                        const DocumentTexts &texts, const SignerNames &signer, int visible,
                        int certify, int N, const InputState &opened, RunningDigest *digest, Placeholder &where) {
    // The update is built from the bytes as they are now.
    if (!input_unchanged(input, opened)) return -1;
    const int page = std::atoi(config->sigpage);
    const int image = (visible && config->sigimage[0] != '\0') ? 1 : 0;
    char reason[kTextField];
    copy_field(reason, cut_text(view(texts.reason), sizeof reason - 1));  // whole characters

    SignatureImage picture;
    if (image && read_image(config, picture) < 0) return -1;

    SignatureImageData drawn;
    drawn.width = picture.width;
    drawn.height = picture.height;
    drawn.bits = picture.bits;
    drawn.rgb = picture.rgb.get();
    drawn.alpha = picture.alpha.get();
    SignatureRequest request;
    request.config = config;
    request.title = texts.title;
    request.author = texts.author;
    request.subject = texts.subject;
    request.keywords = texts.keywords;
    request.digits = N;
    request.visible = visible != 0;
    request.certify = certify != 0;
    request.reason = reason;
    request.location = texts.location;
    request.signer_name = signer.name;
    request.page = page;
    request.serial = signer.serial;
    if (image) request.image = &drawn;
    SignatureUpdate update;
    if (!build_signature_update(input, request, update)) return -1;
    place(update, N, where);
    return copy_and_append(input, output, update.text, opened, digest, where);
}

int write_timestamp_file(SigningConfig *config, std::FILE *input, std::FILE *output, int N,
                         const InputState &opened, RunningDigest *digest, Placeholder &where) {
    if (!input_unchanged(input, opened)) return -1;
    SignatureRequest request;
    request.config = config;
    request.digits = N;
    request.document_timestamp = true;
    SignatureUpdate update;
    if (!build_signature_update(input, request, update)) return -1;
    place(update, N, where);
    return copy_and_append(input, output, update.text, opened, digest, where);
}

}  // namespace qs
