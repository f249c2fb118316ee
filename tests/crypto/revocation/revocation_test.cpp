// The signer's OCSP status archived in the signature, through the real
// program against a real responder; the cache and its fetch-time database.
#include <gtest/gtest.h>

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <json-c/json.h>
#include <openssl/pem.h>

#include <quillseal/quillseal.h>

#include "core/base/handles.h"
#include "crypto/crypto_support.h"
#include "crypto/revocation/ocsp_status.h"
#include "crypto/revocation_service.h"

namespace {

using namespace cryptotest;
using qstest::file_exists;
using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;
using qstest::TempDir;

// A configuration for a store of the revocation PKI, with room for the archived response.
std::string revocation_conf(const RevocationService &pki, const TempDir &dir, const std::string &store,
                            const std::string &cache, const std::string &extra = "") {
    char stored[600];
    encrypt_password(qstest::kStorePassword, stored);
    const std::string path = dir.file(store + ".conf");
    qstest::write_file(path, "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + pki.file(store + ".p12") +
                                 "\ncertpasswd=" + stored + "\nextrarange=6000\ncachedir=" + cache + "\n" + extra);
    return path;
}

std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> names;
    using DirPtr = std::unique_ptr<DIR, int (*)(DIR *)>;
    DirPtr listing(opendir(dir.c_str()), &closedir);
    while (const dirent *entry = listing ? readdir(listing.get()) : nullptr)
        if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    return names;
}

TEST(Revocation, SignaturesArchiveTheSignersOcspStatus) {
    RevocationService pki;
    TempDir dir;
    const std::string cache = dir.file("cache");
    ASSERT_EQ(run_shell("mkdir " + shell_quote(cache)).status, 0);
    const struct {
        const char *name;
        const char *store;
        std::string extra;    // configuration lines
        const char *line;     // status line, a prefix when it ends without a newline
        bool archived;        // the signature holds the signer's good status
        int new_requests;     // to the intermediate's responder
    } cases[] = {
        {"good signer", "signer", "", "0#Document signed", true, 1},
        {"again within the hour: from the cache", "signer", "", "0#Document signed", true, 0},
        {"revoked signer", "revoked", "", "-1#OCSP response Certificate Status REVOKED!...\n", false, 1},
        {"signer unknown to the responder", "unknown", "", "-1#OCSP response Certificate Status NOT GOOD!...\n", false, 1},
        {"responder that refuses connections", "unreachable", "", "0#Document signed", false, 0},
        {"responder that never answers", "silent", "httptimeout=2\n", "0#Document signed", false, 0},
        {"self-signed signer", "self", "", "0#Document signed", false, 0},
    };
    std::string first_response;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.file("signed.pdf");
        const int before = pki.requests_to("/ocsp/inter");
        const auto started = std::chrono::steady_clock::now();
        const std::string line = run_cli({"-i", qstest::fixture("one-page.pdf"), "-o", out, "-z",
                                          revocation_conf(pki, dir, c.store, cache, c.extra)})
                                     .out;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
        EXPECT_EQ(pki.requests_to("/ocsp/inter") - before, c.new_requests);
        const std::string expected = c.line;
        if (expected.back() == '\n') {
            EXPECT_EQ(line, expected);
            EXPECT_FALSE(file_exists(out));
            continue;
        }
        ASSERT_EQ(line.rfind(expected, 0), 0u) << line;
        const auto sig = run_shell("pdfsig " + shell_quote(out) + " 2>&1");
        EXPECT_NE(sig.out.find("Signature is Valid"), std::string::npos) << sig.out;
        const std::string response = archived_ocsp_response(out);
        std::remove(out.c_str());
        if (!c.archived) {
            EXPECT_EQ(response, "");
            continue;
        }
        const std::string verdict = ocsp_verdict(pki, response, pki.file("signer.pem"), pki.file("inter/ca.pem"));
        EXPECT_NE(verdict.find("Response verify OK"), std::string::npos) << verdict;
        EXPECT_NE(verdict.find("signer.pem: good"), std::string::npos) << verdict;
        if (first_response.empty())
            first_response = response;
        else
            EXPECT_EQ(response, first_response);  // the cached response itself
    }
}

// A responder that is down only leaves the attribute out: nothing is left in
// the message slot that a later failure of the same process would show.
// A cached response stands for the signer only when the signer's issuer, or a
// responder the issuer certified for OCSP signing, signed it about that very
// certificate, and only when the running user owns the cache's files; any
// other is fetched again. The default cache is the shared /tmp.
TEST(Revocation, CachedResponsesAreTrustedOnlyWhenTheyVerify) {
    RevocationService pki;
    TempDir dir;
    const passwd *nobody = getpwnam("nobody");
    const bool can_chown = geteuid() == 0 && nobody;
    qs::X509Ptr signer(PEM_read_X509(qs::open_file(pki.file("signer.pem").c_str(), "r").get(), nullptr, nullptr,
                                     nullptr));
    ASSERT_TRUE(signer);
    const std::string key = qs::serial_key(signer.get());
    const auto response_by = [&](const std::string &signed_with, const std::string &about = "signer.pem") {
        return basic_response_of(make_ocsp_response(pki, about, "inter", signed_with));
    };
    const std::string response_name = "quillseal-ocsp-basic-" + key + ".der";
    const std::string others_write = "-1#The cache directory can be written by other users";
    const struct {
        const char *name;
        std::string planted;  // BasicOCSPResponse
        std::string foreign;  // the cache file (or "." the folder) another user owns
        bool used;
        std::string linked = "";  // the cache file moved beside the folder, a link to it under its name
        const char *link_kind = "-s";  // "-s" a symbolic link, "" a second name
        mode_t mode = 0755;           // of the cache folder
        std::string line = "0#Document signed";
    } cases[] = {
        {"signed by the issuer itself", response_by("inter/ca"), "", true},
        {"signed by the issuer's OCSP responder", response_by("inter/responder"), "", true},
        {"signed by another CA's OCSP responder", response_by("root/responder"), "", false},
        {"signed by a key that carries the issuer's name", response_by("forger/ca"), "", false},
        {"about another certificate", response_by("inter/responder", "second.pem"), "", false},
        {"a response file another user owns", response_by("inter/ca"), response_name, false},
        {"a fetch-time database another user owns", response_by("inter/ca"), "quillseal-cache.db", false},
        // A link planted under a cache file's name is never followed, whatever it leads to.
        {"a response file that is a link", response_by("inter/ca"), "", false, response_name},
        {"a fetch-time database that is a link", response_by("inter/ca"), "", false, "quillseal-cache.db"},
        {"a response file with a second name", response_by("inter/ca"), "", false, response_name, ""},
        // A folder where others could replace the files is refused; the sticky bit of /tmp keeps them out.
        {"a folder everybody may write", response_by("inter/ca"), "", false, "", "-s", 0777, others_write},
        {"a folder its group may write", response_by("inter/ca"), "", false, "", "-s", 0770, others_write},
        {"a shared folder with the sticky bit", response_by("inter/ca"), "", true, "", "-s", 01777},
        {"a folder another user owns", response_by("inter/ca"), ".", false, "", "-s", 0755,
         "-1#The cache directory belongs to another user"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.foreign.empty() && !can_chown) {
            std::printf("skipped (only root can give a file to another user): %s\n", c.name);
            continue;
        }
        const std::string cache = dir.file(std::to_string(&c - cases));
        ASSERT_EQ(run_shell("mkdir " + shell_quote(cache)).status, 0);
        plant_cache_file(cache, response_name, c.planted, key);
        if (!c.foreign.empty()) {
            ASSERT_EQ(chown((cache + "/" + c.foreign).c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        const std::string moved = cache + "-" + c.linked;
        if (!c.linked.empty()) {
            ASSERT_EQ(run_shell("mv " + shell_quote(cache + "/" + c.linked) + " " + shell_quote(moved) + " && ln " +
                                c.link_kind + " " + shell_quote(moved) + " " + shell_quote(cache + "/" + c.linked))
                          .status,
                      0);
        }
        ASSERT_EQ(chmod(cache.c_str(), c.mode), 0);
        const std::string link_target = c.linked.empty() ? "" : qstest::read_file(moved);
        const std::string out = dir.file("signed.pdf");
        const int before = pki.requests_to("/ocsp/inter");
        const std::string conf = revocation_conf(pki, dir, "signer", cache);
        const std::string line = run_cli({"-i", qstest::fixture("one-page.pdf"), "-o", out, "-z", conf}).out;
        ASSERT_EQ(line.rfind(c.line, 0), 0u) << line;
        // What a link led to is left as it was.
        if (!c.linked.empty()) {
            EXPECT_EQ(qstest::read_file(moved), link_target);
        }
        if (c.line.rfind("-1#", 0) == 0) {
            EXPECT_EQ(pki.requests_to("/ocsp/inter"), before);
            EXPECT_FALSE(file_exists(out));
            continue;
        }
        EXPECT_EQ(pki.requests_to("/ocsp/inter") - before, c.used ? 0 : 1);
        const std::string archived = archived_ocsp_response(out);
        ASSERT_FALSE(archived.empty());
        EXPECT_EQ(basic_response_of(archived) == c.planted, c.used);
        const std::string verdict = ocsp_verdict(pki, archived, pki.file("signer.pem"), pki.file("inter/ca.pem"));
        EXPECT_NE(verdict.find("signer.pem: good"), std::string::npos) << verdict;
        std::remove(out.c_str());
    }
}

TEST(Revocation, ToleratedFailureLeavesNoMessageBehind) {
    RevocationService pki;
    TempDir dir;
    SigningConfig *raw = nullptr;
    ASSERT_EQ(read_config(revocation_conf(pki, dir, "unreachable", dir.path()).c_str(), &raw), 0);
    Config config(raw);
    message();
    EXPECT_EQ(sign_internal(qstest::fixture("one-page.pdf").c_str(), dir.file("a.pdf").c_str(), "", "", "", 0, "", "",
                            "", "", 0, 0, config.get()),
              0);
    EXPECT_EQ(message(), "");
    EXPECT_EQ(sign_internal(dir.file("missing.pdf").c_str(), dir.file("b.pdf").c_str(), "", "", "", 0, "", "", "", "",
                            0, 0, config.get()),
              -1);
    EXPECT_EQ(message(), "No such file or directory [File: " + dir.file("missing.pdf") + "]");
}

TEST(Revocation, TwoProcessesShareOneCacheDirectory) {
    RevocationService pki;
    TempDir dir;
    const std::string conf_a = revocation_conf(pki, dir, "signer", dir.path());
    const std::string conf_b = revocation_conf(pki, dir, "second", dir.path());
    const std::string cli = shell_quote(QS_CLI_PATH), in = shell_quote(qstest::fixture("one-page.pdf"));
    const auto both = run_shell("(" + cli + " -i " + in + " -o " + shell_quote(dir.file("a.pdf")) + " -z " +
                                shell_quote(conf_a) + " & " + cli + " -i " + in + " -o " + shell_quote(dir.file("b.pdf")) +
                                " -z " + shell_quote(conf_b) + " & wait)");
    EXPECT_EQ(both.out.find("-1#"), std::string::npos) << both.out;
    EXPECT_NE(both.out.find("output[" + dir.file("a.pdf") + "]"), std::string::npos) << both.out;
    EXPECT_NE(both.out.find("output[" + dir.file("b.pdf") + "]"), std::string::npos) << both.out;
    EXPECT_FALSE(archived_ocsp_response(dir.file("a.pdf")).empty());
    EXPECT_FALSE(archived_ocsp_response(dir.file("b.pdf")).empty());
    // Whole files only: the database is one JSON object, and no temporary file is left.
    qs::JsonPtr database(json_tokener_parse(qstest::read_file(dir.file("quillseal-cache.db")).c_str()));
    EXPECT_TRUE(database && json_object_is_type(database.get(), json_type_object));
    for (const std::string &name : names_in(dir.path())) EXPECT_EQ(name.find("quillseal-cache-"), std::string::npos) << name;
}

TEST(Revocation, FetchTimeDatabase) {
    std::string full = "{";
    for (int i = 1; i <= 100; ++i) full += (i > 1 ? ", \"K" : "\"K") + std::to_string(i) + "\": " + std::to_string(1000 + i);
    full += "}";
    const struct {
        const char *name;
        std::string database;  // content of quillseal-cache.db; "dir" makes it a directory
        const char *key;
        long before;           // looked up first
        long store;            // then stored under NEW
        const char *gone;      // a key no longer there after the store
    } cases[] = {
        {"no database", "", "K1", 0, 7, ""},
        {"one entry", "{ \"K1\": 1234 }", "K1", 1234, 7, ""},
        {"not JSON", "{ \"K1\": 12", "K1", 0, 7, ""},
        {"no object", "[ 1, 2 ]", "K1", 0, 7, ""},
        {"a directory", "dir", "K1", 0, 7, ""},
        {"all 100 entries taken: the newest is replaced", full, "K100", 1100, 2000, "K100"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string db = dir.file("quillseal-cache.db");
        if (c.database == "dir")
            ASSERT_EQ(run_shell("mkdir " + shell_quote(db)).status, 0);
        else if (!c.database.empty())
            qstest::write_file(db, c.database);
        EXPECT_EQ(checkDataBase(c.key, -1, dir.path().c_str()), c.before);
        EXPECT_EQ(checkDataBase("NEW", c.store, dir.path().c_str()), c.store);
        EXPECT_EQ(checkDataBase("NEW", -1, dir.path().c_str()), c.store);
        if (c.database == "dir") continue;  // nothing can be written there
        const std::string written = qstest::read_file(db);
        EXPECT_NE(written.find("\"NEW\": " + std::to_string(c.store)), std::string::npos) << written;
        if (c.gone[0] != '\0') {
            EXPECT_EQ(written.find(std::string("\"") + c.gone + "\""), std::string::npos);
            EXPECT_NE(written.find("\"K99\": 1099"), std::string::npos);
        }
    }
    EXPECT_EQ(checkDataBase("K1", -1, "/nonexistent-cache-dir"), 0);
}

}  // namespace
