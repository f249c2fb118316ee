#include "crypto/local_service.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <json-c/json.h>

#include "core/base/handles.h"

extern char **environ;

namespace qstest {

const TsaPki &tsa_pki() {
    static TempDir dir;
    static const TsaPki pki = [] {
        TsaPki p;
        p.dir = dir.path();
        const auto made = run_shell("bash " + shell_quote(std::string(QS_SOURCE_DIR) + "/tests/support/make_tsa_pki.sh") +
                                    " " + shell_quote(p.dir) + " " + shell_quote(fixture("ca.pem")) + " " +
                                    shell_quote(fixture("ca.key")) + " 2>&1");
        if (made.status != 0) throw std::runtime_error("TSA PKI not made: " + made.out);
        p.config = p.dir + "/tsa.cnf";
        p.tsa_cert = p.dir + "/tsa.pem";
        p.tls_cert = p.dir + "/tls.pem";
        p.tls_key = p.dir + "/tls.key";
        return p;
    }();
    return pki;
}

std::string LoggedRequest::header(const std::string &name) const {
    for (const auto &h : headers)
        if (h.first == name) return h.second;
    return "";
}

int start_service(const std::vector<std::string> &words, pid_t &pid) {
    std::vector<char *> argv;
    std::vector<std::string> owned = words;
    for (auto &w : owned) argv.push_back(w.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        throw std::runtime_error(words[0] + " could not be started");
    }
    // The first line is the port; a service that does not say it within 20 s failed.
    std::string line;
    pollfd ready{out[0], POLLIN, 0};
    char ch;
    while (line.find('\n') == std::string::npos && poll(&ready, 1, 20000) == 1 && read(out[0], &ch, 1) == 1)
        line += ch;
    close(out[0]);
    const int port = std::atoi(line.c_str());
    if (port <= 0) {
        stop_service(pid);
        throw std::runtime_error("the local service did not start");
    }
    return port;
}

void stop_service(pid_t &pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
    }
}

LocalService::LocalService(const std::string &mode, const std::vector<std::string> &extra) {
    std::vector<std::string> words = {"python3", std::string(QS_SOURCE_DIR) + "/tests/support/http_service.py",
                                      "--mode", mode, "--log", dir_.file("log"), "--save-body", dir_.file("body"),
                                      "--tsa-config", tsa_pki().config};
    words.insert(words.end(), extra.begin(), extra.end());
    port_ = start_service(words, pid_);
}

LocalService::~LocalService() { stop(); }

void LocalService::stop() { stop_service(pid_); }

std::string LocalService::url(const std::string &scheme, const std::string &path) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<LoggedRequest> LocalService::requests() const {
    std::vector<LoggedRequest> logged;
    std::istringstream lines(file_exists(dir_.file("log")) ? read_file(dir_.file("log")) : "");
    for (std::string line; std::getline(lines, line);) {
        qs::JsonPtr owned(json_tokener_parse(line.c_str()));
        json_object *entry = owned.get();
        if (!entry) continue;
        LoggedRequest r;
        json_object *field = nullptr;
        if (json_object_object_get_ex(entry, "method", &field)) r.method = json_object_get_string(field);
        if (json_object_object_get_ex(entry, "path", &field)) r.path = json_object_get_string(field);
        if (json_object_object_get_ex(entry, "body_length", &field)) r.body_length = json_object_get_int64(field);
        if (json_object_object_get_ex(entry, "connection", &field)) r.connection = json_object_get_int64(field);
        if (json_object_object_get_ex(entry, "in_flight", &field)) r.in_flight = json_object_get_int(field);
        if (json_object_object_get_ex(entry, "tls_resumed", &field)) r.tls_resumed = json_object_get_boolean(field);
        if (json_object_object_get_ex(entry, "headers", &field))
            for (size_t i = 0; i < json_object_array_length(field); ++i) {
                json_object *pair = json_object_array_get_idx(field, i);
                r.headers.emplace_back(json_object_get_string(json_object_array_get_idx(pair, 0)),
                                       json_object_get_string(json_object_array_get_idx(pair, 1)));
            }
        logged.push_back(std::move(r));
    }
    return logged;
}

std::string LocalService::last_body() const {
    return file_exists(dir_.file("body")) ? read_file(dir_.file("body")) : "";
}

}  // namespace qstest
