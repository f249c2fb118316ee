#include "crypto/digest.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <openssl/evp.h>

#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/openssl_errors.h"
#include "core/base/text.h"

namespace qs {
namespace {

constexpr std::size_t kDigestBuffer = 512;
// Blocks small enough to stay in the processor cache between the read and the hash.
constexpr std::size_t kBlock = 256u << 10;

const EVP_MD *digest_by_name(const char *name) {
    const EVP_MD *md = name ? EVP_get_digestbyname(name) : nullptr;
    if (!md) report(format("Unknown message digest %s\n", name ? name : ""));
    return md;
}

EvpMdCtxPtr start_digest(const EVP_MD *md) {
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return nullptr;
    return ctx;
}

// A read block no larger than the signed bytes need, left uninitialised: a
// small document pays for no memory it never reads.
struct Block {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t size;
};

Block read_block(long needed) {
    const std::size_t size =
        needed < static_cast<long>(kBlock) ? static_cast<std::size_t>(needed > 0 ? needed : 1) : kBlock;
    return Block{std::unique_ptr<unsigned char[]>(new unsigned char[size]), size};
}

// Feeds length bytes from offset start of the file into the digest.
bool digest_span(EVP_MD_CTX *ctx, std::FILE *file, long start, long length, Block &block) {
    if (length == 0) return true;
    if (std::fseek(file, start, SEEK_SET) != 0) return false;
    while (length > 0) {
        const std::size_t want =
            length < static_cast<long>(block.size) ? static_cast<std::size_t>(length) : block.size;
        const std::size_t got = std::fread(block.bytes.get(), 1, want, file);
        if (got != want) return false;
        if (EVP_DigestUpdate(ctx, block.bytes.get(), got) != 1) return false;
        length -= static_cast<long>(got);
    }
    return true;
}

// The value of a digest fed so far.
int finish_digest(EVP_MD_CTX *ctx, std::vector<unsigned char> &digest) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ctx || EVP_DigestFinal_ex(ctx, out, &length) != 1) {
        report_openssl("Error computing the document digest...");
        return -1;
    }
    digest.assign(out, out + length);
    return 0;
}

}  // namespace

bool RunningDigest::start(const char *name) {
    const EVP_MD *md = digest_by_name(name);
    if (!md) return false;
    ctx_ = start_digest(md);
    if (!ctx_) report_openssl("Error computing the document digest...");
    return static_cast<bool>(ctx_);
}

bool RunningDigest::add(const void *data, std::size_t length) {
    return ctx_ && (length == 0 || EVP_DigestUpdate(ctx_.get(), data, length) == 1);
}

int RunningDigest::finish(std::vector<unsigned char> &digest) { return finish_digest(ctx_.get(), digest); }

int digest_ranges(const char *name, std::FILE *file, long a, long b, long c,
                  std::vector<unsigned char> &digest) {
    const EVP_MD *md = digest_by_name(name);
    if (!md) return -1;
    EvpMdCtxPtr ctx = start_digest(md);
    if (!ctx) {
        report_openssl("Error computing the document digest...");
        return -1;
    }
    Block block = read_block(a > c ? a : c);
    if (!digest_span(ctx.get(), file, 0, a, block) || !digest_span(ctx.get(), file, b, c, block)) {
        report("Error reading the signed byte ranges of the file...");
        return -1;
    }
    return finish_digest(ctx.get(), digest);
}

}  // namespace qs

extern "C" {

QS_API int message_digest(const char *name, const unsigned char *data, long length,
                          unsigned char **digest, unsigned int *digest_length) {
    return qs::guarded([&]() -> int {
        if (digest) *digest = nullptr;
        if (digest_length) *digest_length = 0;
        const EVP_MD *md = qs::digest_by_name(name);
        if (!md) return -1;
        if (!digest || !digest_length || length < 0 || (!data && length > 0)) {
            qs::report("No data or no place for the message digest.");
            return -1;
        }
        qs::MallocPtr<unsigned char> out(static_cast<unsigned char *>(std::calloc(1, qs::kDigestBuffer)));
        unsigned int size = 0;
        if (!out || EVP_Digest(data, static_cast<std::size_t>(length), out.get(), &size, md, nullptr) != 1) {
            qs::report_openssl("Error computing the message digest...");
            return -1;
        }
        *digest = out.release();
        *digest_length = size;
        return 0;
    });
}

}  // extern "C"
