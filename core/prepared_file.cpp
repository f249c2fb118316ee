#include "core/prepared_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"
#include "core/base/version.h"
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


// Copies input to output and appends the update; where receives the
// update's placeholder of N digits.
int append_update(std::FILE *input, std::FILE *output, const SignatureUpdate &update, int N, Placeholder &where) {
    where.a = update.a;
    where.c = update.c;
    where.N = N;
    where.b = where.a + N + 2;
    where.new_field = update.new_field;
    return copy_and_append(input, output, update.text.data(), static_cast<long>(update.text.size()), "signature update");
}

}  // namespace

int copy_and_append(std::FILE *input, std::FILE *output, const char *update, long length, const char *what) {
    const long size = getFileSize(input);
    if (size < 0 || copy_file_section(input, output, 0, size) < 0) {
        const int saved = errno;
        report("Error copying the input document into the output file.");
        errno = saved;
        return -1;
    }
    if (std::fwrite(update, 1, static_cast<size_t>(length), output) != static_cast<size_t>(length) ||
        std::fflush(output) != 0) {
        const int saved = errno;
        report(std::string("Error writing the ") + what + " to the output file.");
        errno = saved;
        return -1;
    }
    return 0;
}

void note_new_field(const SigningConfig &config, const Placeholder &where) {
    if (where.new_field) leave_note(std::string("New signature field: ") + config.sigfield);
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
                        int certify, int N, Placeholder &where) {
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
    return append_update(input, output, update, N, where);
}

int write_timestamp_file(SigningConfig *config, std::FILE *input, std::FILE *output, int N, Placeholder &where) {
    SignatureRequest request;
    request.config = config;
    request.digits = N;
    request.document_timestamp = true;
    SignatureUpdate update;
    if (!build_signature_update(input, request, update)) return -1;
    return append_update(input, output, update, N, where);
}

}  // namespace qs
