// The one HTTP exchange of the library: a request body posted (or a plain GET)
// with libcurl, the response body collected in memory. Every network service
// the library talks to (time-stamping authorities, OCSP responders, CRL
// distribution points) goes through http_exchange, so its limits hold for all
// of them: connect and total time-outs, a cap on the response body, no
// redirects, and only the http and https schemes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <quillseal/config.h>

namespace qs {

enum class HttpKind { Timestamp = 0, Ocsp = 1 };

struct HttpLimits {
    long connect_seconds = 30;
    long total_seconds = 120;              // "httptimeout=" in the configuration
    std::size_t max_body = 64u << 20;      // bytes of response body
};

struct HttpRequest {
    std::string url;
    bool post = true;                      // false: a GET without body
    const unsigned char *body = nullptr;   // not owned; the caller keeps it alive
    std::size_t body_length = 0;
    std::vector<std::string> headers;      // sent in this order
    std::string ca_file;                   // trusted CAs for an https server; empty: the system's
    std::string credentials;               // "user:password" for basic authentication; empty: none
    std::string proxy;                     // "protocol://host[:port]"; empty: none
};

struct HttpReply {
    long status = 0;                       // HTTP status as received; not judged here
    std::vector<unsigned char> body;
};

// The limits the configuration asks for: the defaults, with the total time-out
// taken from httptimeout (whole seconds) when it is set. False, reported, for
// a value that is not a positive number of seconds.
bool http_limits(const SigningConfig &config, HttpLimits &limits);

// The request of one kind as the configuration describes it: its headers, and
// for a timestamp the CA bundle (https only) and the credentials; a configured
// proxy for both kinds. An empty proxyprotocol is set to "http" in the record
// when proxyhost is given.
HttpRequest http_request_of_kind(SigningConfig &config, const std::string &url, HttpKind kind,
                                 const unsigned char *body, std::size_t length);

// Connections kept between exchanges (pdfsigning_init* to pdfsigning_shutdown):
// the exchanges of a process then share one libcurl handle, so a request to a
// host already reached goes over the open connection (HTTP keep-alive) and a
// new TLS connection resumes the session of the last one. Without open every
// exchange makes and closes its own connection. A process forked while the
// handle was kept leaves the handle (and its sockets) to its parent and starts
// its own.
void connections_open();
void connections_close();

// Performs one exchange. 0 with the reply (whatever status the server gave),
// or -1 with "%s [URL: %s]" reported (the libcurl error text, or the reason a
// response was refused). Credentials in the URL are never shown.
int http_exchange(const HttpRequest &request, const HttpLimits &limits, HttpReply &reply);

// The URL as it may appear in a message: any user name and password removed.
std::string shown_url(const std::string &url);

}  // namespace qs
