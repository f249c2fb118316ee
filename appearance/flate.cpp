// Flate compression in 16 KiB output chunks, and the C entry points that hand
// the result over in malloc'd buffers.
#include "appearance/flate.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <zlib.h>

#include <quillseal/appearance.h>

#include "core/base/guard.h"

namespace {

constexpr std::size_t kChunk = 16384;

// Hands zlib the next piece of rest once it has used up the last one: zlib
// takes its input length as uInt, so larger inputs are fed in pieces.
void feed(z_stream &z, std::string_view &rest) {
    if (z.avail_in != 0 || rest.empty()) return;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(rest.data()));
    z.avail_in = static_cast<uInt>(rest.size() < UINT_MAX ? rest.size() : UINT_MAX);
    rest.remove_prefix(z.avail_in);
}

// A malloc'd copy of text for a C caller, its length in *length.
unsigned char *hand_over(const std::string &text, int *length) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        qs::report("The stream data is too large.");
        return nullptr;
    }
    auto *out = static_cast<unsigned char *>(std::malloc(text.empty() ? 1 : text.size()));
    if (!out) {
        qs::report("Out of memory while compressing stream data.");
        return nullptr;
    }
    std::memcpy(out, text.data(), text.size());
    *length = static_cast<int>(text.size());
    return out;
}

}  // namespace

namespace qs {

std::string deflate_bytes(std::string_view data) {
    z_stream z{};
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) throw std::runtime_error("Flate compression could not start.");
    std::string out;
    unsigned char chunk[kChunk];
    std::string_view rest = data;
    int rc = Z_OK;
    do {
        feed(z, rest);
        z.next_out = chunk;
        z.avail_out = kChunk;
        rc = deflate(&z, rest.empty() ? Z_FINISH : Z_NO_FLUSH);
        if (rc == Z_STREAM_ERROR) break;
        out.append(reinterpret_cast<char *>(chunk), kChunk - z.avail_out);
    } while (rc != Z_STREAM_END);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("Flate compression failed.");
    return out;
}

std::optional<std::string> inflate_bytes(std::string_view data) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return std::nullopt;
    std::string out;
    unsigned char chunk[kChunk];
    std::string_view rest = data;
    int rc = Z_OK;
    for (;;) {
        feed(z, rest);
        z.next_out = chunk;
        z.avail_out = kChunk;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR) break;
        out.append(reinterpret_cast<char *>(chunk), kChunk - z.avail_out);
        if (rc == Z_STREAM_END) break;
        // No progress with all input used: the stream is cut short.
        if (rc == Z_BUF_ERROR || (z.avail_in == 0 && rest.empty() && z.avail_out != 0)) break;
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) return std::nullopt;
    return out;
}

}  // namespace qs

extern "C" {

QS_API unsigned char *flate_encode(const unsigned char *data, int *length) {
    return qs::guarded_ptr([&]() -> unsigned char * {
        if (!length || *length < 0 || (!data && *length != 0)) return nullptr;
        const char *bytes = reinterpret_cast<const char *>(data);
        const std::size_t size = *length == 0 ? (bytes ? std::strlen(bytes) : 0) : static_cast<std::size_t>(*length);
        return hand_over(qs::deflate_bytes(std::string_view(bytes ? bytes : "", size)), length);
    });
}

QS_API unsigned char *flate_decode(const unsigned char *data, int *length) {
    return qs::guarded_ptr([&]() -> unsigned char * {
        if (!length || *length < 0 || (!data && *length != 0)) return nullptr;
        const std::size_t size = static_cast<std::size_t>(*length);
        *length = 0;
        const std::optional<std::string> plain =
            qs::inflate_bytes(std::string_view(reinterpret_cast<const char *>(data), size));
        if (!plain) return nullptr;
        return hand_over(*plain, length);
    });
}

}  // extern "C"
