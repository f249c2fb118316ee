// Keys opened by URI through OpenSSL's store interface and the PKCS#11 provider
// (certstore "OPENSSL STORE"), on a SoftHSM2 token of the test's own, through
// the real programs: every route signs, every failure is one clear line, the
// PIN never shows, and the program always ends cleanly. Workers (-j) sign
// from one token on the provider route and the engine route alike.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "support/soft_token.h"

namespace {

using qstest::fixture;
using qstest::SoftToken;

int count(const std::string &text, const std::string &what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// pdfsig's verdict, with the signer's common name it must show; "" when valid.
std::string check_signed_by(const std::string &path, const std::string &signer, const std::string &password = "") {
    const std::string said =
        qstest::run_shell("pdfsig " + (password.empty() ? "" : "-upw " + password + " ") +
                          qstest::shell_quote(path) + " 2>&1")
            .out;
    const bool valid = said.find("Signature is Valid") != std::string::npos &&
                       said.find("Total document signed") != std::string::npos &&
                       said.find("Signer Certificate Common Name: " + signer) != std::string::npos;
    return valid ? "" : said;
}

class ProviderSigning : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(token.problem(), "");
        ASSERT_EQ(token.import_certificate(fixture("signer.pem"), "signer", "01"), "");
        token.activate();  // the programs inherit SOFTHSM2_CONF
        mkdir(in.c_str(), 0755);
    }
    // A folder of n documents.
    void fill_folder(int n) {
        for (int i = 0; i < n; ++i)
            qstest::write_file(in + "/doc" + std::to_string(i) + ".pdf", qstest::read_file(fixture("one-page.pdf")));
    }
    std::string fresh_folder(const std::string &name) {
        const std::string path = dir.file(name);
        qstest::run_shell("rm -rf " + qstest::shell_quote(path));
        mkdir(path.c_str(), 0755);
        return path;
    }
    qstest::RunResult tool(const std::string &args) {
        return qstest::run_shell(qstest::shell_quote(QS_TWO_PHASE_TOOL) + " " + args + " 2>&1");
    }

    qstest::TempDir dir;
    SoftToken token{dir};
    std::string in = dir.file("in"), log = dir.file("debug.log");
};

// Skips a test of the store route where the provider cannot run.
#define SKIP_WITHOUT_PROVIDER() \
    if (SoftToken::provider().empty()) GTEST_SKIP() << "pkcs11-provider is not installed, or cannot run in this build"

TEST_F(ProviderSigning, EveryRouteSignsWithTheTokenKey) {
    SKIP_WITHOUT_PROVIDER();
    fill_folder(3);
    const std::string debug = "debug=on\nlogfile=" + log + "\n";
    struct Case {
        const char *what, *signer;
        std::string keyuri, extra;
    } cases[] = {
        {"RSA, certificate from the key's store", "Test Signer", "pkcs11:token=qs;object=signer;type=private", debug},
        {"RSA, certificate by its own URI", "Test Signer", "pkcs11:token=qs;id=%01;type=private",
         debug + "certuri=pkcs11:token=qs;object=signer;type=cert\n"},
        {"EC, certificate from a file: URI", "EC Signer", "pkcs11:token=qs;object=ec;type=private",
         debug + "certuri=file:" + fixture("ec-signer.pem") + "\n"},
        {"EC, certificate from signerpem", "EC Signer", "pkcs11:token=qs;object=ec",
         debug + "signerpem=" + fixture("ec-signer.pem") + "\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string conf = token.write_store_config(dir, "store.conf", c.keyuri, c.extra);
        const std::string out = dir.file("out.pdf"), encrypted = dir.file("encrypted.pdf");
        std::remove(log.c_str());

        // One file.
        clitest::BoundedRun run = clitest::run_bounded(dir, {"-i", fixture("one-page.pdf"), "-o", out, "-z", conf});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(run.out.rfind("0#Document signed", 0), 0u) << run.out;
        EXPECT_EQ(check_signed_by(out, c.signer), "");

        // Signed and encrypted in one go.
        run = clitest::run_bounded(dir, {"-i", fixture("one-page.pdf"), "-o", encrypted, "-p", "open-pw", "-z", conf});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(check_signed_by(encrypted, c.signer, "open-pw"), "");

        // Two phases: the digest signed by the token key through its own process.
        const std::string prepared = dir.file("prepared.pdf");
        const qstest::RunResult start = tool("start " + qstest::shell_quote(fixture("one-page.pdf")) + " " +
                                             qstest::shell_quote(prepared) + " " + qstest::shell_quote(conf));
        ASSERT_EQ(start.out.rfind("0#", 0), 0u) << start.out;
        const qstest::RunResult hash =
            tool("hash " + qstest::shell_quote(conf) + " " + start.out.substr(2, start.out.find('\n') - 2));
        ASSERT_EQ(hash.out.rfind("0#", 0), 0u) << hash.out;
        const qstest::RunResult end =
            tool("end " + qstest::shell_quote(prepared) + " " + hash.out.substr(2, hash.out.find('\n') - 2));
        EXPECT_EQ(end.out, "0#Document signed\n");
        EXPECT_EQ(check_signed_by(prepared, c.signer), "");

        // A folder: the store is opened once for all its documents.
        std::remove(log.c_str());
        const std::string out_dir = fresh_folder("out");
        run = clitest::run_bounded(dir, {"-i", in, "-o", out_dir, "-z", conf});
        EXPECT_EQ(count(run.out, "0#Document signed"), 3) << run.out << run.err;
        EXPECT_EQ(count(qstest::read_file(log), "opened the key store"), 1) << qstest::read_file(log);
        EXPECT_EQ(check_signed_by(out_dir + "/doc0.pdf", c.signer), "");
        for (const std::string &file : {out, encrypted, prepared}) std::remove(file.c_str());
    }
    EXPECT_EQ(qstest::read_file(log).find(SoftToken::kPin), std::string::npos);
}

TEST_F(ProviderSigning, EachFailureIsOneClearLine) {
    SKIP_WITHOUT_PROVIDER();
    fill_folder(3);
    const std::string key = "pkcs11:token=qs;object=signer;type=private";
    struct Case {
        const char *what;
        std::string keyuri, extra, pin, line;
    } cases[] = {
        {"wrong PIN", key, "", "999999", "-1#No private key could be opened at " + key},
        {"no PIN: no login, no prompt", key, "", "", "-1#No private key could be opened at " + key},
        {"no such object", "pkcs11:token=qs;object=absent;type=private", "", SoftToken::kPin,
         "-1#No private key could be opened at pkcs11:token=qs;object=absent;type=private"},
        {"no certificate for the key", "pkcs11:token=qs;object=ec;type=private", "", SoftToken::kPin,
         "-1#No certificate could be read at pkcs11:token=qs;object=ec;type=cert (give certuri or signerpem)"},
        {"certificate of another key", "pkcs11:token=qs;object=ec;type=private",
         "signerpem=" + fixture("signer.pem") + "\n", SoftToken::kPin,
         "-1#The signer's certificate does not belong to the key at pkcs11:token=qs;object=ec;type=private."},
        {"missing provider", key, "!provider=no-such-provider\n", SoftToken::kPin,
         "-1#The provider no-such-provider could not be loaded from /"},
        {"missing module", key, "!providermodule=" + dir.file("missing.so") + "\n", SoftToken::kPin,
         "-1#The PKCS#11 module " + dir.file("missing.so") + " (providermodule) cannot be used: No such file"},
        {"no keyuri", "", "", SoftToken::kPin, "-1#Error processing configuration file! The entry keyuri is missing!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string conf = token.write_store_config(dir, "bad.conf", c.keyuri, c.extra, c.pin);
        const std::string out = dir.file("out.pdf");
        // Standard input holds a PIN: nothing may read it as an answer to a prompt.
        const std::string stdin_pin = dir.file("stdin.txt");
        qstest::write_file(stdin_pin, std::string(SoftToken::kPin) + "\n");
        clitest::BoundedRun run =
            clitest::run_bounded(dir, {"-i", fixture("one-page.pdf"), "-o", out, "-z", conf}, stdin_pin);
        const std::vector<std::string> lines = clitest::output_lines(run.out);
        ASSERT_EQ(lines.size(), 1u) << run.out << run.err;
        EXPECT_EQ(lines[0].rfind(c.line, 0), 0u) << lines[0];
        EXPECT_TRUE(run.status == 255 || run.status == 245) << run.status << run.err;  // -1 or -11: never a signal
        EXPECT_EQ(run.err, "");
        EXPECT_FALSE(qstest::file_exists(out));
        if (!c.pin.empty()) {
            EXPECT_EQ(run.out.find(c.pin), std::string::npos);
        }

        // A folder with workers: the same line for each document, and the
        // device asked once (the run's own try), not once per worker.
        std::remove(log.c_str());
        const std::string logged_conf =
            token.write_store_config(dir, "bad-logged.conf", c.keyuri, "!debug=on\nlogfile=" + log + "\n" +
                                                                           (c.extra[0] == '!' ? c.extra.substr(1) : c.extra),
                                     c.pin);
        const std::string out_dir = fresh_folder("out");
        run = clitest::run_bounded(dir, {"-i", in, "-o", out_dir, "-z", logged_conf, "-j", "3"});
        if (c.keyuri.empty()) continue;
        EXPECT_EQ(count(run.out, c.line), 3) << run.out;
        EXPECT_EQ(count(qstest::read_file(log), "opening the key store"), 1) << qstest::read_file(log);
    }
}

// Workers each open their own device session after they start, on the
// provider route and on the engine route: 24 documents with four workers,
// five times over, without one failure.
TEST_F(ProviderSigning, WorkersSignFromOneTokenOnBothRoutes) {
    fill_folder(24);
    struct Route {
        const char *what;
        std::string conf;
    };
    std::vector<Route> routes = {{"engine", token.write_config(dir, "engine.conf", "pkcs11:token=qs;object=signer")}};
    if (!SoftToken::provider().empty())
        routes.push_back(
            {"provider", token.write_store_config(dir, "store.conf", "pkcs11:token=qs;object=signer;type=private")});
    for (const auto &route : routes) {
        SCOPED_TRACE(route.what);
        for (int round = 0; round < 5; ++round) {
            const std::string out_dir = fresh_folder("out");
            const clitest::BoundedRun run = clitest::run_bounded(dir, {"-i", in, "-o", out_dir, "-z", route.conf, "-j", "4"});
            EXPECT_EQ(run.status, 0) << run.out << run.err;
            ASSERT_EQ(count(run.out, "0#Document signed"), 24) << "round " << round << ":\n" << run.out;
        }
        EXPECT_EQ(check_signed_by(dir.file("out/doc23.pdf"), "Test Signer"), "");
    }
}

}  // namespace
