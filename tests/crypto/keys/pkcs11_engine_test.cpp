// The PKCS#11 engine inside one process: loaded once, loaded again after a
// shutdown, recovering from a refused configuration, and loaded at library
// start from the default configuration file. Signing runs against a SoftHSM2
// token of the test's own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/crypto_support.h"
#include "support/soft_token.h"

namespace {

using namespace cryptotest;
using qstest::fixture;
using qstest::SoftToken;

// pdfsig's verdict on a signed document, or what it said instead.
std::string check_signed(const std::string &path) {
    const std::string said = qstest::run_shell("pdfsig " + qstest::shell_quote(path) + " 2>&1").out;
    const bool valid = said.find("Signature is Valid") != std::string::npos &&
                       said.find("Total document signed") != std::string::npos;
    return valid ? "" : said;
}

// The debug lines the engine writes, in order (the driver's own are left out).
std::vector<std::string> engine_lines(const std::string &log) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find(" [core]: ");
        const std::string text = at == std::string::npos ? line : line.substr(at + 9);
        if (text.find("engine") != std::string::npos || text.find("ENGINE_") != std::string::npos)
            lines.push_back(text);
    }
    return lines;
}

const std::vector<std::string> kOneLoad = {"loading pkcs11 engine", "ENGINE_load_dynamic() called",
                                           "ENGINE_by_id() called", "loaded pkcs11 engine"};

class DeviceEngine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(token.problem(), "");
        token.activate();
        log = dir.file("debug.log");
    }
    // Whatever a test leaves loaded is given back before the token goes.
    void TearDown() override { pdfsigning_shutdown(); }

    // A device configuration that logs; lines put before it override its own
    // (the first value of a key counts).
    std::string config(const std::string &name = "device.conf", const std::string &p11url = "pkcs11:token=qs;object=signer",
                       const std::string &pin = SoftToken::kPin, const std::string &before = "") {
        const std::string path = token.write_config(dir, name, p11url, "signer.pem",
                                                    "debug=on\nlogfile=" + log + "\n", pin);
        qstest::write_file(path, before + qstest::read_file(path));
        return path;
    }
    int sign_with(const std::string &conf, const std::string &output) {
        return sign(fixture("one-page.pdf").c_str(), output.c_str(), "", "", "", 0, "", "", "", "",
                    conf.c_str(), 0, 0);
    }

    qstest::TempDir dir;
    SoftToken token{dir};
    std::string log;
};

TEST_F(DeviceEngine, LoadsOnceAndAgainAfterShutdownAndInit) {
    const std::string conf = config();
    for (const char *name : {"a.pdf", "b.pdf"}) {
        ASSERT_EQ(sign_with(conf, dir.file(name)), 0) << message();
        EXPECT_EQ(check_signed(dir.file(name)), "");
    }
    // The second signing sent no control commands again.
    EXPECT_EQ(engine_lines(qstest::read_file(log)), kOneLoad);

    // Without a default configuration file, init loads nothing; the next
    // signing loads the engine again.
    pdfsigning_shutdown();
    pdfsigning_init();
    EXPECT_EQ(engine_lines(qstest::read_file(log)), kOneLoad);
    ASSERT_EQ(sign_with(conf, dir.file("c.pdf")), 0) << message();
    EXPECT_EQ(check_signed(dir.file("c.pdf")), "");
    std::vector<std::string> twice = kOneLoad;
    twice.insert(twice.end(), kOneLoad.begin(), kOneLoad.end());
    EXPECT_EQ(engine_lines(qstest::read_file(log)), twice);
}

TEST_F(DeviceEngine, RefusedConfigurationIsReportedAndALaterSigningSucceeds) {
    const std::string slot_url = "slot_" + token.slot() + "-id_01";
    struct Case {
        const char *what;
        std::string extra, pin, p11url, message;
    } cases[] = {
        {"wrong PIN in the key reference", "", "999999", "pkcs11:token=qs;object=signer",
         "Error: ENGINE_load_private_key() returned NULL key..."},
        {"wrong PIN sent as a command", "", "999999", slot_url,
         "Error: ENGINE_load_private_key() returned NULL key..."},
        {"no PIN", "", "", slot_url, "Error: ENGINE_load_private_key() returned NULL key..."},
        {"key not on the token", "", SoftToken::kPin, "pkcs11:token=qs;object=absent",
         "Error: ENGINE_load_private_key() returned NULL key..."},
        {"wrong module path", "library=" + dir.file("missing.so") + "\n", SoftToken::kPin, slot_url,
         "Error: ENGINE_load_private_key() returned NULL key..."},
        {"wrong engine path", "engine=" + dir.file("missing.so") + "\n", SoftToken::kPin, slot_url,
         "Error loading PKCS#11 engine."},
        {"module given as the engine", "engine=" + token.module() + "\n", SoftToken::kPin, slot_url,
         "Error loading PKCS#11 engine."},
    };
    const std::string good = config();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bad = config("bad.conf", c.p11url, c.pin, c.extra);
        message();
        EXPECT_EQ(sign_with(bad, dir.file("bad.pdf")), -1);
        EXPECT_EQ(message(), c.message);
        EXPECT_FALSE(qstest::file_exists(dir.file("bad.pdf")));

        ASSERT_EQ(sign_with(good, dir.file("good.pdf")), 0) << message();
        EXPECT_EQ(check_signed(dir.file("good.pdf")), "");
        std::remove(dir.file("good.pdf").c_str());
        pdfsigning_shutdown();
    }
    const std::string logged = qstest::read_file(log);
    EXPECT_EQ(logged.find("999999"), std::string::npos);
    EXPECT_EQ(logged.find(SoftToken::kPin), std::string::npos);
}

// One process signing for several configurations, as a signing service does
// for its users: each signing uses a device key only with its own PIN, though
// the engine (or the provider's store) stays open between signings. Two tokens, each with a key and a
// PIN of its own, sign in turns; a wrong PIN fails as a wrong PIN right after
// a signing that logged the device in.
TEST_F(DeviceEngine, EachSigningUsesTheDeviceKeyOnlyWithItsOwnPin) {
    const std::string second_pin = "246810";
    ASSERT_EQ(token.add_token("qs2", second_pin, "ec-signer.key"), "");
    const std::string first_url = "pkcs11:token=qs;object=signer", second_url = "pkcs11:token=qs2;object=signer";
    const std::string slot_url = "slot_" + token.slot() + "-id_01";
    const auto second = [&](const std::string &name, const std::string &pin) {
        return token.write_config(dir, name, second_url, "ec-signer.pem", "debug=on\nlogfile=" + log + "\n", pin);
    };
    struct Step {
        const char *what;
        std::string conf;
        const char *signer;  // the display name of the signature; null when the device refuses
        std::string refusal = "Error: ENGINE_load_private_key() returned NULL key...";
    };
    std::vector<Step> steps = {
        {"first token, its PIN", config("first.conf"), "Test Signer"},
        {"first token, a wrong PIN", config("wrong.conf", first_url, "999999"), nullptr},
        {"first token, its PIN again", config("first.conf"), "Test Signer"},
        {"first token by slot and id, a wrong PIN sent as a command", config("slot-wrong.conf", slot_url, "999999"),
         nullptr},
        {"second token, its PIN", second("second.conf", second_pin), "EC Signer"},
        {"first token's key with the second token's PIN", config("crossed.conf", first_url, second_pin), nullptr},
        {"first token by slot and id, its PIN", config("slot.conf", slot_url), "Test Signer"},
        {"second token's key with the first token's PIN", second("crossed2.conf", SoftToken::kPin), nullptr},
        {"second token, its PIN again", second("second.conf", second_pin), "EC Signer"},
        {"first token, its PIN once more", config("first.conf"), "Test Signer"},
    };
    // The same through the PKCS#11 provider, whose store stays open between
    // signings of the same settings, in turns with the engine.
    if (!SoftToken::provider().empty()) {
        const auto store = [&](const std::string &name, const std::string &token_label, const std::string &pem,
                               const std::string &pin) {
            return token.write_store_config(dir, name, "pkcs11:token=" + token_label + ";object=signer;type=private",
                                            "signerpem=" + fixture(pem) + "\n", pin);
        };
        const std::string refused = "No private key could be opened at pkcs11:token=";
        const std::vector<Step> through_provider = {
            {"provider: first token, its PIN", store("s1.conf", "qs", "signer.pem", SoftToken::kPin), "Test Signer"},
            {"provider: first token, a wrong PIN", store("s2.conf", "qs", "signer.pem", "999999"), nullptr, refused},
            {"provider: first token, no PIN", store("s3.conf", "qs", "signer.pem", ""), nullptr, refused},
            {"provider: first token, its PIN again", store("s1.conf", "qs", "signer.pem", SoftToken::kPin),
             "Test Signer"},
            {"engine: first token, a wrong PIN", config("wrong.conf", first_url, "999999"), nullptr},
            {"provider: second token, its PIN", store("s4.conf", "qs2", "ec-signer.pem", second_pin), "EC Signer"},
            {"provider: first token's key with the second token's PIN",
             store("s5.conf", "qs", "signer.pem", second_pin), nullptr, refused},
            {"provider: second token, its PIN again", store("s4.conf", "qs2", "ec-signer.pem", second_pin),
             "EC Signer"},
        };
        steps.insert(steps.end(), through_provider.begin(), through_provider.end());
    }
    for (const auto &step : steps) {
        SCOPED_TRACE(step.what);
        const std::string out = dir.file("out.pdf");
        message();
        const int rc = sign_with(step.conf, out);
        if (!step.signer) {
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(message().rfind(step.refusal, 0), 0u);
            EXPECT_FALSE(qstest::file_exists(out));
            continue;
        }
        ASSERT_EQ(rc, 0) << message();
        EXPECT_EQ(check_signed(out), "");
        EXPECT_EQ(verify(out.c_str(), "{}"), 0);
        EXPECT_EQ(message(), step.signer);
        std::remove(out.c_str());
    }
    const std::string logged = qstest::read_file(log);
    for (const std::string &pin : {std::string(SoftToken::kPin), second_pin, std::string("999999")})
        EXPECT_EQ(logged.find(pin), std::string::npos);
}

// An empty PIN sends no login at all, on the engine route and the provider
// route, as some devices count an empty login as a wrong try. The calls
// between the engine (or provider) and the SoftHSM2 module are seen through
// pkcs11-spy, which logs each of them. The spy keeps memory of its own
// after it is unloaded, so it runs in a child that ends without a leak check.
TEST_F(DeviceEngine, AnEmptyPinSendsNoLogin) {
    const std::string spy =
        qstest::run_shell("dpkg -L opensc-pkcs11 2>/dev/null | grep '/pkcs11-spy\\.so$' | head -n1 | tr -d '\\n'").out;
    if (spy.empty()) GTEST_SKIP() << "pkcs11-spy (Debian package opensc-pkcs11) is not installed";
    const std::string calls = dir.file("calls.log"), findings = dir.file("findings.txt");
    struct Case {
        const char *what;
        std::string conf;
        bool signs;
    };
    std::vector<Case> cases = {
        {"URI without a PIN", config("uri.conf", "pkcs11:token=qs;object=signer", "", "library=" + spy + "\n"), false},
        {"slot and id without a PIN",
         config("slot.conf", "slot_" + token.slot() + "-id_01", "", "library=" + spy + "\n"), false},
        {"URI with its PIN: the login is seen",
         config("pin.conf", "pkcs11:token=qs;object=signer", SoftToken::kPin, "library=" + spy + "\n"), true},
    };
    // The same holds for a key opened through the PKCS#11 provider.
    if (!SoftToken::provider().empty()) {
        const std::string key = "pkcs11:token=qs;object=signer;type=private";
        const std::string spied = "!providermodule=" + spy + "\nsignerpem=" + fixture("signer.pem") + "\n";
        cases.push_back({"provider, no PIN", token.write_store_config(dir, "store-none.conf", key, spied, ""), false});
        cases.push_back({"provider, its PIN: the login is seen",
                         token.write_store_config(dir, "store-pin.conf", key, spied), true});
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("PKCS11SPY", token.module().c_str(), 1);
        setenv("PKCS11SPY_OUTPUT", calls.c_str(), 1);
        std::string found;
        for (const auto &c : cases) {
            std::remove(calls.c_str());
            const int rc = sign_with(c.conf, dir.file("out.pdf"));
            pdfsigning_shutdown();  // the module is finalised and the log complete
            const std::string seen = qstest::read_file(calls), what = c.what;
            if (rc != (c.signs ? 0 : -1)) found += what + ": signing returned " + std::to_string(rc) + "; ";
            if (seen.find("C_Initialize") == std::string::npos) found += what + ": the spy saw no call; ";
            if ((seen.find("C_Login") != std::string::npos) != c.signs)
                found += what + (c.signs ? ": no login was seen; " : ": a login was sent; ");
            std::remove(dir.file("out.pdf").c_str());
        }
        qstest::write_file(findings, found);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(qstest::read_file(findings), "");
}

// Gives this process its own /usr/local (a private mount namespace under a
// user namespace that maps the caller to root), so that the library's default
// configuration file can be placed there. False where the system forbids it.
bool own_usr_local() {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    const std::pair<const char *, std::string> maps[] = {
        {"/proc/self/setgroups", "deny"},
        {"/proc/self/uid_map", "0 " + std::to_string(uid) + " 1"},
        {"/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"}};
    for (const auto &map : maps) {
        const int fd = open(map.first, O_WRONLY);
        const bool written = fd >= 0 && write(fd, map.second.data(), map.second.size()) ==
                                            static_cast<ssize_t>(map.second.size());
        if (fd >= 0) close(fd);
        if (!written) return false;
    }
    return mount("none", "/usr/local", "tmpfs", 0, nullptr) == 0 && mkdir("/usr/local/quillseal", 0755) == 0;
}

TEST_F(DeviceEngine, LibraryStartLoadsTheEngineFromTheDefaultFile) {
    const std::string conf = config();
    const std::string findings = dir.file("findings.txt");
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!own_usr_local()) _exit(77);
        qstest::write_file("/usr/local/quillseal/quillseal.conf", qstest::read_file(conf));
        std::string found;
        pdfsigning_init();
        if (engine_lines(qstest::read_file(log)) != kOneLoad) found += "init did not load the engine once; ";
        // Signing with the default file reuses the engine loaded at start.
        if (sign_with("", dir.file("default.pdf")) != 0) found += "signing failed: " + message() + "; ";
        if (engine_lines(qstest::read_file(log)) != kOneLoad) found += "signing loaded the engine again; ";
        pdfsigning_shutdown();
        qstest::write_file(findings, found);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended with a signal";
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace on this system";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(qstest::read_file(findings), "");
    EXPECT_EQ(check_signed(dir.file("default.pdf")), "");
}

}  // namespace
