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

// Copies the whole input to the output and appends the update after it.
// A failure here is reported as well, so that the front end never shows the
// text of an earlier operation; the system error, when set, follows the report.
int copy_and_append(std::FILE *input, std::FILE *output, const char *update, long length) {
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
        report("Error writing the signature update to the output file.");
        errno = saved;
        return -1;
    }
    return 0;
}

}  // namespace

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

    long length = -1;
    MallocPtr<char> update(qpdf_incremental_update(
        config, input, "", &length, texts.title, texts.author, texts.subject, texts.keywords,
        &where.a, &where.c, N, visible, certify, reason, texts.location, signer.name, page,
        signer.serial, image, picture.width, picture.height, picture.rgb.get(), picture.alpha.get(),
        picture.bits));
    if (!update || length == -1) return -1;
    where.N = N;
    where.b = where.a + N + 2;
    return copy_and_append(input, output, update.get(), length);
}

int write_timestamp_file(SigningConfig *config, std::FILE *input, std::FILE *output, int N, Placeholder &where) {
    SignatureRequest request;
    request.config = config;
    request.digits = N;
    request.document_timestamp = true;
    SignatureUpdate update;
    if (!build_signature_update(input, request, update)) return -1;
    where.a = update.a;
    where.c = update.c;
    where.N = N;
    where.b = where.a + N + 2;
    return copy_and_append(input, output, update.text.data(), static_cast<long>(update.text.size()));
}

}  // namespace qs
