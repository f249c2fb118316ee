// The placeholder size estimate, the two signed byte ranges, and filling the
// placeholder with the signature built over their digest.
#include "crypto/signing/byte_range.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "crypto/digest.h"
#include "crypto/keys/key_store.h"
#include "crypto/signing/cms_signer.h"

namespace qs {
namespace {

constexpr int kBaseDigits = 5000;
constexpr double kPemToDigits = 2.4;
// Room kept below INT_MAX for every addition the estimate makes.
constexpr long kLargestExtra = INT_MAX / 2;

long file_length(std::FILE *file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    return std::ftell(file);
}

// Size of the file at path, or -1 when it cannot be opened.
long size_of(const char *path) {
    bool not_regular = false;
    FilePtr file = open_regular_file(path, not_regular);
    return file ? file_length(file.get()) : -1;
}

bool read_exact(std::FILE *file, long offset, unsigned char *into, long length) {
    if (length == 0) return true;
    if (std::fseek(file, offset, SEEK_SET) != 0) return false;
    return std::fread(into, 1, static_cast<std::size_t>(length), file) == static_cast<std::size_t>(length);
}

int byte_at(std::FILE *file, long offset) {
    if (std::fseek(file, offset, SEEK_SET) != 0) return EOF;
    return std::fgetc(file);
}

}  // namespace

bool parse_extrarange(const char *text, long &extra) {
    errno = 0;
    extra = std::strtol(text, nullptr, 10);
    if (errno == ERANGE || extra > kLargestExtra || extra < -kLargestExtra) {
        report(format("The extrarange value %s is out of range.", shown(text).c_str()));
        return false;
    }
    return true;
}

int check_placeholder(std::FILE *file, long a, long b, long c) {
    if (a < 0 || b < a + 2 || c < 0 || file_length(file) != b + c || byte_at(file, a) != '<' ||
        byte_at(file, b - 1) != '>') {
        report("The signature placeholder is not where the byte range says...");
        return -1;
    }
    return 0;
}

int write_signature_text(std::FILE *file, long a, long b, std::string_view hex) {
    const long room = b - a - 2;
    const long length = static_cast<long>(hex.size());
    if (length > room) {
        generate_extra_range_message(length - room);
        return -1;
    }
    if (std::fseek(file, a + 1, SEEK_SET) != 0 ||
        std::fwrite(hex.data(), 1, hex.size(), file) != hex.size() || std::fflush(file) != 0) {
        report("Error writing signed digest to the file...");
        return -1;
    }
    return 0;
}

namespace {

// The digest of the signed ranges around a placeholder found where they say:
// the one taken as they were written, or hashed from the file.
int settle_digest(SigningConfig *config, std::FILE *output, long a, long b, long c, int N,
                  const std::vector<unsigned char> *written, std::vector<unsigned char> &digest) {
    if (b != a + N + 2 || check_placeholder(output, a, b, c) < 0) {
        report("The signature placeholder is not where the byte range says...");
        return -1;
    }
    if (written && !written->empty()) {
        digest = *written;
        return 0;
    }
    return digest_ranges(config->hashalgo, output, a, b, c, digest);
}

}  // namespace

int begin_fill(SigningConfig *config, std::FILE *output, const Placeholder &where, SignatureInputs &inputs,
               PendingSignature &pending, const std::vector<unsigned char> *written) {
    std::vector<unsigned char> digest;
    if (settle_digest(config, output, where.a, where.b, where.c, where.N, written, digest) < 0) return -1;
    return begin_signature(config, digest.data(), static_cast<int>(digest.size()), inputs, pending);
}

int end_fill(SigningConfig *config, std::FILE *output, const Placeholder &where, PendingSignature &pending,
             int timestamp) {
    char *raw = nullptr;
    const int rc = end_signature(config, pending, timestamp, &raw);
    MallocPtr<char> signature(raw);
    if (rc < 0) return rc;
    return write_signature_text(output, where.a, where.b, signature.get());
}

int fill_placeholder(SigningConfig *config, std::FILE *output, long a, long b, long c, int N,
                     int timestamp, SignatureInputs *inputs, const std::vector<unsigned char> *written) {
    std::vector<unsigned char> digest;
    if (settle_digest(config, output, a, b, c, N, written, digest) < 0) return -1;
    char *raw = nullptr;
    const int rc = sign_digest(config, digest.data(), static_cast<int>(digest.size()), timestamp, inputs, &raw);
    MallocPtr<char> signature(raw);
    if (rc < 0) return rc;
    return write_signature_text(output, a, b, signature.get());
}

}  // namespace qs

extern "C" {

QS_API int calculate_byte_range(SigningConfig *config, int timestamp, int *N) {
    return qs::guarded([&]() -> int {
        if (!config || !N) {
            qs::report("Missing configuration or place for the placeholder size.");
            return -1;
        }
        long extra = 0;
        if (!qs::parse_extrarange(config->extrarange, extra)) return -1;
        long size = extra + qs::kBaseDigits;
        if (std::strcmp(config->usinggui, "true") != 0) {
            if (std::strcmp(config->certstore, qs::kPkcs11Device) == 0) {
                const long signer = qs::size_of(config->signerpem);
                if (signer < 0) {
                    qs::report("signerpem config entry points to missing file");
                    return -1;
                }
                size += static_cast<long>(signer * qs::kPemToDigits);
                const long chain = qs::size_of(config->capem);
                if (chain >= 0) size += static_cast<long>(chain * qs::kPemToDigits);
            }
            if (timestamp) size += qs::kTimestampDigits;
            size = (size + 99) / 100 * 100;
        }
        // The placeholder holds whole bytes: an odd count would let the digits run over its ">".
        size += size % 2;
        if (size <= 0 || size > INT_MAX) {
            qs::report(qs::format("The extrarange value %s leaves no room for the signature.",
                                  qs::shown(config->extrarange).c_str()));
            return -1;
        }
        *N = static_cast<int>(size);
        return 0;
    });
}

QS_API int get_external_range(FILE *file, long a, long b, long c, unsigned char **buffer, long *length) {
    return qs::guarded([&]() -> int {
        if (buffer) *buffer = nullptr;
        if (length) *length = 0;
        if (!file || !buffer || !length || a < 0 || c < 0 || b < a) {
            qs::report("Invalid byte range.");
            return -1;
        }
        qs::MallocPtr<unsigned char> bytes(static_cast<unsigned char *>(std::malloc(static_cast<std::size_t>(a + c) + 1)));
        if (!bytes) {
            qs::report("Out of memory for the signed byte ranges.");
            return -1;
        }
        if (!qs::read_exact(file, 0, bytes.get(), a) || !qs::read_exact(file, b, bytes.get() + a, c)) {
            qs::report("Error reading the signed byte ranges of the file...");
            return -1;
        }
        *buffer = bytes.release();
        *length = a + c;
        return 0;
    });
}

QS_API int get_internal_range(FILE *file, long a, long b, char **buffer, long *length) {
    return qs::guarded([&]() -> int {
        if (buffer) *buffer = nullptr;
        if (length) *length = 0;
        if (!file || !buffer || !length || a < 0 || b < a + 2) {
            qs::report("Invalid byte range.");
            return -1;
        }
        const long digits = b - a - 2;
        qs::MallocPtr<char> text(static_cast<char *>(std::malloc(static_cast<std::size_t>(digits) + 1)));
        if (!text) {
            qs::report("Out of memory for the signature contents.");
            return -1;
        }
        if (!qs::read_exact(file, a + 1, reinterpret_cast<unsigned char *>(text.get()), digits)) {
            qs::report("Error reading the signature contents of the file...");
            return -1;
        }
        text.get()[digits] = '\0';
        *buffer = text.release();
        *length = digits;
        return 0;
    });
}

QS_API void generate_extra_range_message(long excess) {
    long advice = static_cast<long>(static_cast<double>(excess) / 1000.0 * 1200.0);
    if (advice < 100) advice = 100;
    advice = (advice + 99) / 100 * 100;
    char text[qs::kTextField];
    std::snprintf(text, sizeof text,
                  "Byte range underestimated... add extrarange=%ld to config file (add to existing value).",
                  advice);
    handle_error_message(text, 1);
}

QS_API int update_contents(SigningConfig *config, FILE *output, long a, long b, long c, int N, int timestamp) {
    return qs::guarded([&]() -> int {
        if (!config || !output) {
            qs::report("Missing configuration or output file.");
            return -1;
        }
        return qs::fill_placeholder(config, output, a, b, c, N, timestamp, nullptr);
    });
}

}  // extern "C"
