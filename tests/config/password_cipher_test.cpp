#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config_helpers.h"

namespace {

using cfgtest::stored;
using cfgtest::take_message;

std::string decrypted(const std::string &text) {
    std::vector<char> out(256, 'x');
    EXPECT_EQ(decrypt_password(text.c_str(), out.data()), 0);
    EXPECT_NE(std::find(out.begin(), out.end(), '\0'), out.end());
    return out.data();
}

std::string password_of(std::size_t length) {
    std::string p;
    for (std::size_t i = 0; i < length; ++i) p += static_cast<char>(1 + (i * 37) % 255);
    return p;
}

// Files written by earlier builds must stay readable: the key may never change.
TEST(StoredPassword, KeyIsPinnedByAKnownStoredForm) {
    EXPECT_EQ(stored("demo-pass"), "e179372cbd8a689c993e05e9085a40c1");
    EXPECT_EQ(stored(""), "28c213b98b8e33ef");
    EXPECT_EQ(decrypted("e179372cbd8a689c993e05e9085a40c1"), "demo-pass");
}

TEST(StoredPassword, AgreesWithTheOpensslCommandLine) {
    const std::string password = "Sign 4 all: ü & more";
    const auto run = qstest::run_shell("printf %s " + qstest::shell_quote(password) +
                                       " | openssl enc -des-ede3 -nosalt -K "
                                       "c01c7700c1aedc82a34e53773669b8a0b44ca25625afe97a | od -An -tx1 | tr -d ' \\n'");
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(stored(password), run.out);
}

TEST(StoredPassword, LengthFollowsTheBlockPadding) {
    EXPECT_EQ(stored("").size(), 16u);
    EXPECT_EQ(stored("1234567").size(), 16u);
    EXPECT_EQ(stored("12345678").size(), 32u);
    // The longest password fills a 513-byte buffer exactly.
    std::vector<char> out(513);
    ASSERT_EQ(encrypt_password(password_of(255).c_str(), out.data()), 0);
    EXPECT_EQ(std::string(out.data()).size(), 512u);
}

TEST(StoredPassword, RoundTripsEveryLengthAndEitherCase) {
    for (std::size_t n = 0; n <= 255; n += 1) {
        const std::string password = password_of(n);
        std::string text = stored(password);
        ASSERT_EQ(text.size(), 16 * (n / 8 + 1));
        ASSERT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos);
        ASSERT_EQ(decrypted(text), password) << n;
        std::transform(text.begin(), text.end(), text.begin(), ::toupper);
        ASSERT_EQ(decrypted(text), password) << n;
    }
}

TEST(StoredPassword, RefusesAPasswordTooLongToStoreWithoutOverrun) {
    take_message();
    std::vector<char> out(513, 'x');
    EXPECT_EQ(encrypt_password(password_of(256).c_str(), out.data()), -1);
    EXPECT_EQ(out[0], '\0');
    EXPECT_NE(take_message().find("too long"), std::string::npos);
    EXPECT_EQ(encrypt_password(nullptr, out.data()), -1);
}

TEST(StoredPassword, JunkStoredFormsDecryptBoundedAndQuietly) {
    const std::string text = stored("sixteen byte pwd");  // three blocks
    // An odd last digit is ignored.
    EXPECT_EQ(decrypted(text + "7"), "sixteen byte pwd");
    // A cut text fails the padding check: what decrypted before the last block remains.
    EXPECT_EQ(decrypted(text.substr(0, 32)), "sixteen ");
    EXPECT_EQ(decrypted(text.substr(0, 20)), "sixteen ");  // a partial block is dropped
    EXPECT_EQ(decrypted(text.substr(0, 16)), "");
    EXPECT_EQ(decrypted(""), "");
    EXPECT_LE(decrypted("zz-not hex at all!").size(), 255u);
    // A long text never writes past the 256-byte output.
    const std::string long_plain = stored(password_of(255)) + stored(password_of(255));
    EXPECT_LE(decrypted(long_plain).size(), 255u);
    EXPECT_LE(decrypted(std::string(100001, 'f')).size(), 255u);
}

}  // namespace
