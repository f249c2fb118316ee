// A real HTTP(S) service on 127.0.0.1 for the network tests: the Python
// helper tests/support/http_service.py started on a free port, and stopped
// when the object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "support/support.h"

namespace qstest {

// A time-stamping authority certificate (timeStamping usage) and a TLS server
// certificate for 127.0.0.1, both issued by the fixture CA, with the
// configuration of `openssl ts -reply`. Made once per test program.
struct TsaPki {
    std::string dir, config, tsa_cert, tls_cert, tls_key;
};
const TsaPki &tsa_pki();

// Starts a service program (words: the program and its arguments) that
// prints the port it listens on as its first line; returns the port, with
// the process in pid. Throws when it does not start within 20 s.
int start_service(const std::vector<std::string> &words, pid_t &pid);
// Stops the service in pid (if any) and waits for it.
void stop_service(pid_t &pid);

struct LoggedRequest {
    std::string method, path;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
    long body_length = 0;
    long connection = 0;       // the client's port: one per connection
    int in_flight = 0;         // requests in flight when it came, this one included
    bool tls_resumed = false;  // a TLS connection that resumed an earlier session
    std::string header(const std::string &name) const;
};

class LocalService {
public:
    // mode: see http_service.py; extra: more of its options.
    explicit LocalService(const std::string &mode, const std::vector<std::string> &extra = {});
    ~LocalService();
    LocalService(const LocalService &) = delete;
    LocalService &operator=(const LocalService &) = delete;

    int port() const { return port_; }
    std::string url(const std::string &scheme = "http", const std::string &path = "/tsa") const;
    std::vector<LoggedRequest> requests() const;
    // The body of the last request (written by the service).
    std::string last_body() const;

private:
    void stop();
    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace qstest
