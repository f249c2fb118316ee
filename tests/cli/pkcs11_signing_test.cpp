// Signing with keys that never leave a PKCS#11 token (a SoftHSM2 token of the
// test's own), through the real program: valid in pdfsig, the placeholder
// sized from the PEM files, the PIN never shown.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "cli/cli_support.h"
#include "support/soft_token.h"

namespace {

using qstest::fixture;
using qstest::SoftToken;

// The placeholder a device signature reserves: 5000 digits, 2.4 per byte of
// the two PEM files, rounded up to a hundred.
long expected_placeholder(const std::string &signerpem) {
    const auto digits = [](const std::string &name) {
        return static_cast<long>(static_cast<double>(qstest::read_file(fixture(name)).size()) * 2.4);
    };
    const long n = 5000 + digits(signerpem) + digits("ca.pem");
    return (n + 99) / 100 * 100;
}

long placeholder_of(const std::string &signed_pdf) {
    FILE *file = std::fopen(signed_pdf.c_str(), "rb");
    if (!file) return -1;
    long range[4] = {0, 0, 0, 0};
    int object = 0;
    const int rc = qpdf_get_byte_range(file, "", range, &object);
    std::fclose(file);
    return rc == 0 ? range[2] - range[1] - 2 : -1;
}

int count(const std::string &text, const std::string &what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class TokenSigning : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(token.problem(), "");
        token.activate();  // the program inherits SOFTHSM2_CONF
    }
    std::string config(const std::string &p11url, const std::string &pem = "signer.pem",
                       const std::string &pin = SoftToken::kPin) {
        return token.write_config(dir, "device.conf", p11url, pem, "debug=on\nlogfile=" + log + "\n", pin);
    }

    qstest::TempDir dir;
    SoftToken token{dir};
    std::string log = dir.file("debug.log");
};

TEST_F(TokenSigning, KeyReferencesAndKeysSignValidDocumentsWithoutShowingThePin) {
    const std::string signed_line = "0#Document signed: input[" + fixture("one-page.pdf") + "] output[";
    struct Case {
        const char *what;
        std::string p11url, pem, pin, line;
    } cases[] = {
        {"URI with the PIN appended", "pkcs11:token=qs;object=signer", "signer.pem", SoftToken::kPin, signed_line},
        {"slot and id, PIN by command", "slot_" + token.slot() + "-id_01", "signer.pem", SoftToken::kPin,
         signed_line},
        {"EC key", "pkcs11:token=qs;object=ec", "ec-signer.pem", SoftToken::kPin, signed_line},
        {"wrong PIN", "pkcs11:token=qs;object=signer", "signer.pem", "999999",
         "-1#Error: ENGINE_load_private_key() returned NULL key..."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = dir.file("out.pdf");
        std::remove(log.c_str());
        const clitest::BoundedRun run =
            clitest::run_bounded(dir, {"-i", fixture("one-page.pdf"), "-o", out, "-z", config(c.p11url, c.pem, c.pin)});
        const std::vector<std::string> lines = clitest::output_lines(run.out);
        ASSERT_EQ(lines.size(), 1u) << run.out << run.err;
        EXPECT_EQ(lines[0].rfind(c.line, 0), 0u) << lines[0];
        if (c.line == signed_line) {
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(clitest::check_signed_output(out), "");
            EXPECT_EQ(placeholder_of(out), expected_placeholder(c.pem));
        } else {
            EXPECT_NE(run.status, 0);
            EXPECT_FALSE(qstest::file_exists(out));
        }
        const std::string logged = qstest::read_file(log);
        EXPECT_EQ(count(logged, "loading pkcs11 engine"), 1) << logged;
        for (const std::string &shown : {run.out, run.err, logged}) EXPECT_EQ(shown.find(c.pin), std::string::npos);
        std::remove(out.c_str());
    }
}

TEST_F(TokenSigning, DirectoryRouteAsksTheDeviceOnce) {
    const std::string in = dir.file("in");
    mkdir(in.c_str(), 0755);
    const char *names[] = {"a.pdf", "b.pdf", "c.pdf"};
    for (const char *name : names) qstest::write_file(in + "/" + name, qstest::read_file(fixture("one-page.pdf")));
    // With the right PIN the engine is loaded once for every document; a wrong
    // one is tried once, not once per document.
    struct Case {
        const char *pin, *line, *logged_once;
    } cases[] = {{SoftToken::kPin, "0#Document signed", "loaded pkcs11 engine"},
                 {"999999", "-1#Error: ENGINE_load_private_key() returned NULL key...", "PIN incorrect"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pin);
        const std::string out = dir.file(std::string("out-") + c.pin);
        mkdir(out.c_str(), 0755);
        std::remove(log.c_str());
        const clitest::BoundedRun run =
            clitest::run_bounded(dir, {"-i", in, "-o", out, "-z", config("pkcs11:token=qs;object=signer", "signer.pem", c.pin)});
        EXPECT_EQ(count(run.out, c.line), 3) << run.out << run.err;
        const std::string logged = qstest::read_file(log);
        EXPECT_EQ(count(logged, "loading pkcs11 engine"), 1) << logged;
        EXPECT_EQ(count(logged, c.logged_once), 1) << logged;
        for (const char *name : names) {
            if (std::string(c.pin) == SoftToken::kPin)
                EXPECT_EQ(clitest::check_signed_output(out + "/" + name), "") << name;
            else
                EXPECT_FALSE(qstest::file_exists(out + "/" + name)) << name;
        }
    }
}

}  // namespace
