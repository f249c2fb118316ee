// One HTTP exchange through libcurl's easy interface, with the limits every
// network service of the library shares. libcurl is reached through
// curl_functions(), which opens it on first use.
#include "crypto/revocation/http_exchange.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <unistd.h>

#include <curl/curl.h>

#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"
#include "core/base/version.h"
#include "crypto/revocation/curl_library.h"

namespace qs {
namespace {

constexpr const char *kSchemes = "http,https";
constexpr long kLongestTimeout = 24L * 3600;

// A fixed text field of the record, read no further than its size.
template <std::size_t N>
std::string field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

std::vector<std::string> headers_of(HttpKind kind) {
    const bool stamp = kind == HttpKind::Timestamp;
    return {format("User-Agent: Quillseal %s", kVersion), "Pragma: no-cache",
            stamp ? "Content-Type: application/timestamp-query" : "Content-Type: application/ocsp-request",
            stamp ? "Accept: application/timestamp-reply" : "Accept: application/ocsp-response"};
}

// Options are set in a row; the first one libcurl refuses stops the rest.
class Options {
public:
    Options(const CurlFunctions &lib, CURL *curl) : lib_(lib), curl_(curl) {}
    void set(CURLoption option, long value) {
        if (result_ == CURLE_OK) result_ = lib_.easy_setopt(curl_, option, value);
    }
    void set(CURLoption option, const char *value) {
        if (result_ == CURLE_OK) result_ = lib_.easy_setopt(curl_, option, value);
    }
    void set_pointer(CURLoption option, const void *value) {
        if (result_ == CURLE_OK) result_ = lib_.easy_setopt(curl_, option, value);
    }
    void set_size(CURLoption option, curl_off_t value) {
        if (result_ == CURLE_OK) result_ = lib_.easy_setopt(curl_, option, value);
    }
    void set_writer(curl_write_callback writer) {
        if (result_ == CURLE_OK) result_ = lib_.easy_setopt(curl_, CURLOPT_WRITEFUNCTION, writer);
    }
    CURLcode result() const { return result_; }

private:
    const CurlFunctions &lib_;
    CURL *curl_;
    CURLcode result_ = CURLE_OK;
};

bool build_headers(const CurlFunctions &lib, const std::vector<std::string> &lines, CurlListPtr &list) {
    for (const std::string &line : lines) {
        curl_slist *grown = lib.slist_append(list.get(), line.c_str());
        if (!grown) return false;
        list.release();
        list.reset(grown);
    }
    return true;
}

void set_request(Options &options, const HttpRequest &request, const HttpLimits &limits,
                 curl_slist *headers, HttpResponseBuffer &received) {
    static const char kNoBody[] = "";
    options.set(CURLOPT_URL, request.url.c_str());
    // Only http and https, and never to another address than the one given.
    options.set(CURLOPT_PROTOCOLS_STR, kSchemes);
    options.set(CURLOPT_REDIR_PROTOCOLS_STR, kSchemes);
    options.set(CURLOPT_FOLLOWLOCATION, 0L);
    // Time-outs without signals, so a host program's handlers are left alone.
    options.set(CURLOPT_NOSIGNAL, 1L);
    options.set(CURLOPT_CONNECTTIMEOUT, limits.connect_seconds);
    options.set(CURLOPT_TIMEOUT, limits.total_seconds);
    options.set_size(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_body));
    if (!request.ca_file.empty()) options.set(CURLOPT_CAINFO, request.ca_file.c_str());
    if (!request.credentials.empty()) options.set(CURLOPT_USERPWD, request.credentials.c_str());
    if (request.post) {
        options.set_pointer(CURLOPT_POSTFIELDS, request.body ? static_cast<const void *>(request.body) : kNoBody);
        options.set_size(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body_length));
    } else {
        options.set(CURLOPT_HTTPGET, 1L);
    }
    if (headers) options.set_pointer(CURLOPT_HTTPHEADER, headers);
    if (!request.proxy.empty()) options.set(CURLOPT_PROXY, request.proxy.c_str());
    options.set_writer(write_memory_callback);
    options.set_pointer(CURLOPT_WRITEDATA, &received);
}

void report_failure(const CurlFunctions &lib, CURLcode code, const HttpResponseBuffer &received,
                    const HttpRequest &request, const HttpLimits &limits) {
    const std::string url = shown_url(request.url);
    if (received.exceeded || code == CURLE_FILESIZE_EXCEEDED)
        report(format("The response is larger than %zu bytes [URL: %s]", limits.max_body, url.c_str()));
    else if (code == CURLE_WRITE_ERROR)
        report(format("Out of memory while receiving the response [URL: %s]", url.c_str()));
    else
        report(format("%s [URL: %s]", lib.easy_strerror(code), url.c_str()));
}

// The handle kept between init and shutdown, and the process that made it.
struct KeptHandle {
    bool allowed = false;
    CURL *handle = nullptr;
    pid_t owner = 0;
};

KeptHandle &kept() {
    static KeptHandle kept_handle;
    return kept_handle;
}

// A handle inherited through fork shares its sockets with the parent: closing
// them here would end the parent's TLS sessions, so this process forgets it.
void forget_inherited(KeptHandle &k) {
    if (k.handle && k.owner != ::getpid()) k.handle = nullptr;
}

// The handle for one exchange: the kept one, reset to its defaults (its live
// connections and TLS sessions stay), or a new one. owned holds a handle that
// is not kept, so that it goes with the exchange.
CURL *handle_for_exchange(const CurlFunctions &lib, CurlPtr &owned) {
    KeptHandle &k = kept();
    forget_inherited(k);
    if (!k.allowed) {
        owned.reset(lib.easy_init());
        return owned.get();
    }
    if (!k.handle) {
        k.handle = lib.easy_init();
        k.owner = ::getpid();
    } else {
        lib.easy_reset(k.handle);
    }
    return k.handle;
}

}  // namespace

void connections_open() { kept().allowed = true; }

void connections_close() {
    KeptHandle &k = kept();
    forget_inherited(k);
    k.allowed = false;
    if (k.handle) cleanup_curl(k.handle);
    k.handle = nullptr;
}

bool http_limits(const SigningConfig &config, HttpLimits &limits) {
    limits = HttpLimits{};
    const std::string text = field(config.httptimeout);
    if (text.empty()) return true;
    long seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || seconds <= 0 || seconds > kLongestTimeout) {
        report(format("The httptimeout value %s is not a number of seconds between 1 and %ld.",
                      shown(text).c_str(), kLongestTimeout));
        return false;
    }
    limits.total_seconds = seconds;
    if (limits.connect_seconds > seconds) limits.connect_seconds = seconds;
    return true;
}

HttpRequest http_request_of_kind(SigningConfig &config, const std::string &url, HttpKind kind,
                                 const unsigned char *body, std::size_t length) {
    HttpRequest request;
    request.url = url;
    request.body = body;
    request.body_length = length;
    request.headers = headers_of(kind);
    if (kind == HttpKind::Timestamp) {
        if (url.find("https") != std::string::npos && config.tsacert[0] != '\0')
            request.ca_file = field(config.tsacert);
        if (config.tsauser[0] != '\0')
            request.credentials = field(config.tsauser) + ":" + field(config.tsapasswd);
    }
    if (config.proxyhost[0] != '\0') {
        if (config.proxyprotocol[0] == '\0') copy_field(config.proxyprotocol, "http");
        request.proxy = field(config.proxyprotocol) + "://" + field(config.proxyhost);
    }
    return request;
}

int http_exchange(const HttpRequest &request, const HttpLimits &limits, HttpReply &reply) {
    reply = HttpReply{};
    const CurlFunctions *lib = curl_functions();
    if (!lib) return -1;
    CurlListPtr headers;
    ResponseBufferOwner received;
    received.buffer.memory = static_cast<unsigned char *>(std::calloc(1, 1));
    received.buffer.limit = limits.max_body;
    if (!received.buffer.memory || !build_headers(*lib, request.headers, headers)) {
        report(format("Out of memory while preparing the request [URL: %s]", shown_url(request.url).c_str()));
        return -1;
    }
    CurlPtr owned;
    CURL *curl = handle_for_exchange(*lib, owned);
    if (!curl) {
        report(format("Unable to start an HTTP exchange [URL: %s]", shown_url(request.url).c_str()));
        return -1;
    }
    Options options(*lib, curl);
    set_request(options, request, limits, headers.get(), received.buffer);
    CURLcode code = options.result();
    if (code == CURLE_OK) code = lib->easy_perform(curl);
    // A kept handle must not point at the buffer and headers that go with this call.
    const bool kept_handle = !owned;
    if (code != CURLE_OK) {
        if (kept_handle) lib->easy_reset(curl);
        report_failure(*lib, code, received.buffer, request, limits);
        return -1;
    }
    lib->easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    if (kept_handle) lib->easy_reset(curl);
    reply.body.assign(received.buffer.memory, received.buffer.memory + received.buffer.size);
    return 0;
}

std::string shown_url(const std::string &url) {
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const std::size_t at = url.substr(start, end - start).rfind('@');
    if (at == std::string::npos) return url;
    return url.substr(0, start) + url.substr(start + at + 1);
}

}  // namespace qs

extern "C" {

QS_API size_t write_memory_callback(char *chunk, size_t size, size_t count, void *buffer) {
    auto *received = static_cast<HttpResponseBuffer *>(buffer);
    if (!received || (size != 0 && count > SIZE_MAX / size)) return 0;
    const std::size_t length = size * count;
    if (received->limit != 0 && (received->size > received->limit || length > received->limit - received->size)) {
        received->exceeded = 1;
        return 0;
    }
    if (length > SIZE_MAX - 1 - received->size) return 0;
    void *grown = std::realloc(received->memory, received->size + length + 1);
    if (!grown) return 0;
    received->memory = static_cast<unsigned char *>(grown);
    if (length != 0) std::memcpy(received->memory + received->size, chunk, length);
    received->size += length;
    received->memory[received->size] = '\0';
    return length;
}

QS_API int handle_http_request(SigningConfig *config, const char *url, const unsigned char *body, long length,
                               int kind, unsigned char **response, long *response_length) {
    return qs::guarded([&]() -> int {
        if (response) *response = nullptr;
        if (response_length) *response_length = 0;
        if (!config || !url || !response || !response_length || length < 0 || (length > 0 && !body) ||
            (kind != 0 && kind != 1)) {
            qs::report("Invalid HTTP request: a configuration, a URL, a body and a request kind of 0 or 1 "
                       "are needed.");
            return -1;
        }
        qs::HttpLimits limits;
        if (!qs::http_limits(*config, limits)) return -1;
        const qs::HttpRequest request = qs::http_request_of_kind(*config, url, static_cast<qs::HttpKind>(kind),
                                                                 body, static_cast<std::size_t>(length));
        qs::HttpReply reply;
        if (qs::http_exchange(request, limits, reply) < 0) return -1;
        // At least one byte, so that an empty body is a valid buffer too.
        qs::MallocPtr<unsigned char> copy(static_cast<unsigned char *>(std::malloc(reply.body.size() + 1)));
        if (!copy) {
            qs::report("Out of memory for the HTTP response.");
            return -1;
        }
        if (!reply.body.empty()) std::memcpy(copy.get(), reply.body.data(), reply.body.size());
        *response_length = static_cast<long>(reply.body.size());
        *response = copy.release();
        return 0;
    });
}

}  // extern "C"
