// The one-shot driver's handling of its files: what it refuses before writing,
// and that a failed signing leaves neither a partial output nor a changed input.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>

#include <quillseal/quillseal.h>

#include "support/support.h"

namespace {

std::string fetch() {
    char buf[256];
    handle_error_message(buf, 0);
    return buf;
}

struct Config {
    SigningConfig *record = init_config(nullptr);
    ~Config() { free_config(record); }
};

int sign_to(const std::string &in, const std::string &out, SigningConfig *config) {
    return sign_internal(in.c_str(), out.c_str(), "", "", "", 0, "", "", "", "", 0, 0, config);
}

class OutputOverInput : public ::testing::Test {
protected:
    void SetUp() override {
        fetch();
        original = qstest::read_file(qstest::fixture("one-page.pdf"));
        input = dir.file("doc.pdf");
        qstest::write_file(input, original);
    }
    void expect_refused(const std::string &output) {
        EXPECT_EQ(sign_to(input, output, config.record), -1);
        EXPECT_NE(fetch().find("input file itself"), std::string::npos);
        EXPECT_EQ(qstest::read_file(input), original);
    }
    qstest::TempDir dir;
    Config config;
    std::string original, input;
};

TEST_F(OutputOverInput, SamePathIsRefused) { expect_refused(input); }

TEST_F(OutputOverInput, AnotherSpellingIsRefused) { expect_refused(dir.path() + "/.//doc.pdf"); }

TEST_F(OutputOverInput, HardLinkIsRefused) {
    const std::string link = dir.file("hard.pdf");
    ASSERT_EQ(::link(input.c_str(), link.c_str()), 0);
    expect_refused(link);
}

TEST_F(OutputOverInput, SymbolicLinkIsRefused) {
    const std::string link = dir.file("soft.pdf");
    ASSERT_EQ(::symlink(input.c_str(), link.c_str()), 0);
    expect_refused(link);
}

TEST_F(OutputOverInput, RefusedBeforeTheEncryptedRouteToo) {
    EXPECT_EQ(sign_internal(input.c_str(), input.c_str(), "", "", "secret", 0, "", "", "", "", 0, 0,
                            config.record),
              -1);
    EXPECT_EQ(qstest::read_file(input), original);
}

TEST_F(OutputOverInput, SignEncryptRefusesItAndAMissingPassword) {
    const std::string other = dir.file("other.pdf");
    struct Case {
        std::string output;
        const char *password, *message;
    } cases[] = {
        {input, "secret", "input file itself"},
        {other, "", "An encrypted output needs an open password."},
        {other, nullptr, "An encrypted output needs an open password."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(sign_encrypt(input.c_str(), c.output.c_str(), "", "", c.password, 0, "", "", "", "", 0, 0,
                               config.record),
                  -1);
        EXPECT_NE(fetch().find(c.message), std::string::npos);
        EXPECT_EQ(qstest::read_file(input), original);
        EXPECT_FALSE(qstest::file_exists(other));
    }
}

TEST(SignDriverFiles, UnopenableInputLeavesNoOutput) {
    qstest::TempDir dir;
    Config config;
    fetch();
    const std::string out = dir.file("out.pdf");
    EXPECT_EQ(sign_to(dir.file("missing.pdf"), out, config.record), -1);
    EXPECT_NE(fetch().find("[File: " + dir.file("missing.pdf") + "]"), std::string::npos);
    EXPECT_FALSE(qstest::file_exists(out));
}

TEST(SignDriverFiles, OutputInMissingFolderNamesTheOutput) {
    qstest::TempDir dir;
    Config config;
    fetch();
    const std::string out = dir.file("no/such/dir/out.pdf");
    EXPECT_EQ(sign_to(qstest::fixture("one-page.pdf"), out, config.record), -1);
    EXPECT_NE(fetch().find("[File: " + out + "]"), std::string::npos);
}

TEST(SignDriverFiles, FailedSigningRemovesThePartialOutput) {
    qstest::TempDir dir;
    Config config;  // no key store configured: signing fails after the output was created
    fetch();
    const std::string out = dir.file("out.pdf");
    EXPECT_LT(sign_to(qstest::fixture("one-page.pdf"), out, config.record), 0);
    EXPECT_EQ(qstest::run_shell("ls -A " + qstest::shell_quote(dir.path())).out, "");  // no partial file either
}

TEST(SignDriverSteps, EveryPageMarkerIsRewrittenInTheRecord) {
    qstest::TempDir dir;
    Config config;
    std::strcpy(config.record->sigpage, "*");
    sign_to(qstest::fixture("one-page.pdf"), dir.file("out.pdf"), config.record);
    EXPECT_STREQ(config.record->sigpage, "-123456");
}

TEST(SignDriverSteps, TimestampWithoutTsaUrlFailsBeforeAnyFileIsOpened) {
    qstest::TempDir dir;
    const std::string conf = dir.file("q.conf");
    char stored[513];
    encrypt_password("pass", stored);
    qstest::write_file(conf, std::string("certstore=PKCS12 KEYSTORE FILE\ncertfile=/x.p12\ncertpasswd=") + stored + "\n");
    fetch();
    const std::string out = dir.file("out.pdf");
    EXPECT_EQ(sign(qstest::fixture("one-page.pdf").c_str(), out.c_str(), "", "", "", 0, "", "", "", "",
                   conf.c_str(), 1, 0),
              -1);
    EXPECT_EQ(fetch(), "TSA URL not set in config file.");
    EXPECT_FALSE(qstest::file_exists(out));
}

// The reason has room for 255 bytes; a longer UTF-8 reason loses whole
// characters only, so readers still decode it.
TEST(SignDriverSteps, LongReasonIsCutBetweenCharacters) {
    qstest::TempDir dir;
    const std::string conf = qstest::write_signing_config(dir);
    std::string reason;
    for (int i = 0; i < 150; ++i) reason += "\xc3\xbc";  // 300 bytes; byte 255 starts no character
    const std::string out = dir.file("out.pdf");
    ASSERT_EQ(sign(qstest::fixture("one-page.pdf").c_str(), out.c_str(), "", reason.c_str(), "", 0, "", "", "", "",
                   conf.c_str(), 0, 0),
              0)
        << fetch();
    const std::string json = qstest::run_shell("qpdf --json=1 --json-key=objects " + qstest::shell_quote(out)).out;
    EXPECT_NE(json.find("\"/Reason\": \"" + reason.substr(0, 254) + "\""), std::string::npos);
}

}  // namespace
