#include "crypto/csc_service.h"

#include <unistd.h>

#include <sstream>

#include <json-c/json.h>

#include <quillseal/quillseal.h>

#include "core/base/handles.h"
#include "crypto/local_service.h"

namespace cryptotest {
namespace {

// Debian's interpreter holds Debian's python3-cryptography; another python3 on
// the PATH is taken only when there is none.
std::string interpreter() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

}  // namespace

std::string stored_form(const std::string &secret) {
    char stored[600] = "";
    encrypt_password(secret.c_str(), stored);
    return stored;
}

CscService::CscService(const std::vector<std::string> &extra) {
    std::vector<std::string> words = {interpreter(), std::string(QS_SOURCE_DIR) + "/tests/support/csc_service.py",
                                      "--credential", "rsa=" + qstest::fixture("signer.p12"),
                                      "--credential", "ec=" + qstest::fixture("ec-signer.p12"),
                                      "--store-password", qstest::kStorePassword, "--token", kToken,
                                      "--user", kUser, "--password", kPassword, "--pin", kPin,
                                      "--log", dir_.file("log")};
    words.insert(words.end(), extra.begin(), extra.end());
    port_ = qstest::start_service(words, pid_);
}

CscService::~CscService() { qstest::stop_service(pid_); }

std::string CscService::url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/csc/v2"; }

std::vector<CscRequest> CscService::requests() const {
    std::vector<CscRequest> logged;
    std::istringstream lines(qstest::file_exists(dir_.file("log")) ? qstest::read_file(dir_.file("log")) : "");
    for (std::string line; std::getline(lines, line);) {
        qs::JsonPtr entry(json_tokener_parse(line.c_str()));
        if (!entry) continue;
        CscRequest r;
        json_object *field = nullptr;
        if (json_object_object_get_ex(entry.get(), "method", &field)) r.method = json_object_get_string(field);
        if (json_object_object_get_ex(entry.get(), "status", &field)) r.status = json_object_get_int64(field);
        if (json_object_object_get_ex(entry.get(), "numSignatures", &field)) r.num_signatures = json_object_get_int64(field);
        if (json_object_object_get_ex(entry.get(), "hashes", &field)) r.hashes = json_object_get_int64(field);
        if (json_object_object_get_ex(entry.get(), "issued", &field))
            for (std::size_t i = 0; i < json_object_array_length(field); ++i)
                r.issued.push_back(json_object_get_string(json_object_array_get_idx(field, i)));
        logged.push_back(std::move(r));
    }
    return logged;
}

int CscService::count(const std::string &method) const {
    int n = 0;
    for (const CscRequest &r : requests()) n += r.method == method;
    return n;
}

std::string CscService::write_config(const qstest::TempDir &dir, const std::string &extra, const std::string &name,
                                     bool with_token) const {
    const std::string path = dir.file(name);
    const std::string token = with_token ? "csctoken=" + stored_form(kToken) + "\n" : "";
    qstest::write_file(path, extra + "certstore=CSC\ncscurl=" + url() + "\n" + token + "cscpin=" + stored_form(kPin) + "\n");
    return path;
}

}  // namespace cryptotest
