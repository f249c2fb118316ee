// The key store parsed once per run: between init and shutdown a store is
// shared while its file or text and its password stay the same, parsed again
// when any of them changes, and released by shutdown.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include <quillseal/quillseal.h>

#include "crypto/crypto_support.h"
#include "crypto/keys/key_store.h"
#include "support/support.h"

namespace {

using cryptotest::Config;
using qstest::TempDir;

struct Store {
    TempDir dir;
    std::string path = dir.file("store.p12");
    Config config = cryptotest::pkcs12_config();
    Store() {
        qstest::write_file(path, qstest::read_file(qstest::fixture("signer.p12")));
        cryptotest::set_certfile(config.get(), path);
    }
    // Another store's bytes written beside the store and renamed over it.
    void replace_with(const std::string &fixture) {
        const std::string next = dir.file("next.p12");
        qstest::write_file(next, qstest::read_file(qstest::fixture(fixture)));
        ASSERT_EQ(std::rename(next.c_str(), path.c_str()), 0);
    }
    void use_text_of(const std::string &fixture) {
        config->certfiledata = 1;
        cryptotest::set_certfile(config.get(), cryptotest::base64_of(qstest::fixture(fixture), true));
    }
};

enum class Second { Shared, ParsedAgain, Refused };

struct Case {
    const char *name;
    std::function<void(Store &)> before;  // the store of the first document
    std::function<void(Store &)> change;  // what happens before the second document
    Second second;
};

TEST(KeyStoreCache, SharedWhileTheStoreStaysAndParsedAgainWhenItChanges) {
    const auto nothing = [](Store &) {};
    const Case cases[] = {
        {"same file", nothing, nothing, Second::Shared},
        {"same base64 text", [](Store &s) { s.use_text_of("signer.p12"); }, nothing, Second::Shared},
        {"file replaced by another store", nothing, [](Store &s) { s.replace_with("ec-signer.p12"); },
         Second::ParsedAgain},
        {"base64 text of another store", [](Store &s) { s.use_text_of("signer.p12"); },
         [](Store &s) { s.use_text_of("self.p12"); }, Second::ParsedAgain},
        // Same inode and size, and maybe the same times: the bytes tell.
        {"file edited in place", nothing,
         [](Store &s) {
             std::string bytes = qstest::read_file(s.path);
             bytes[bytes.size() / 2] ^= 0x20;
             qstest::write_file(s.path, bytes);
         },
         Second::Refused},
        {"another password", nothing, [](Store &s) { cryptotest::set(s.config->certpasswd, "not-the-password"); },
         Second::Refused},
        {"shutdown between the documents", nothing,
         [](Store &) {
             pdfsigning_shutdown();
             pdfsigning_init_cmd();
         },
         Second::ParsedAgain},
        {"no init: nothing is kept", [](Store &) { pdfsigning_shutdown(); }, nothing, Second::ParsedAgain},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pdfsigning_init_cmd();
        Store store;
        c.before(store);
        qs::KeyMaterial first, second;
        ASSERT_EQ(qs::load_signer_keys(store.config.get(), first), 0) << cryptotest::message();
        c.change(store);
        const int rc = qs::load_signer_keys(store.config.get(), second);
        if (c.second == Second::Refused) {
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(cryptotest::message(), "Unable to parse pkcs12; problem with key store or password");
            EXPECT_FALSE(second.key);
        } else {
            ASSERT_EQ(rc, 0) << cryptotest::message();
            EXPECT_EQ(second.key.get() == first.key.get(), c.second == Second::Shared);
            EXPECT_EQ(second.cert.get() == first.cert.get(), c.second == Second::Shared);
        }
        pdfsigning_shutdown();
    }
}

// A store that is gone is reported even while its key is kept.
TEST(KeyStoreCache, StoreThatIsGoneIsReported) {
    pdfsigning_init_cmd();
    Store store;
    qs::KeyMaterial kept, refused;
    ASSERT_EQ(qs::load_signer_keys(store.config.get(), kept), 0) << cryptotest::message();
    ASSERT_EQ(std::remove(store.path.c_str()), 0);
    EXPECT_EQ(qs::load_signer_keys(store.config.get(), refused), -1);
    EXPECT_NE(cryptotest::message().find(store.path), std::string::npos);
    pdfsigning_shutdown();
}

// Through the exported signing call: a store replaced between two documents
// of one run signs the second document with the new key and certificate.
TEST(KeyStoreCache, StoreReplacedBetweenDocumentsSignsWithTheNewOne) {
    TempDir dir;
    const std::string store = dir.file("store.p12");
    qstest::write_file(store, qstest::read_file(qstest::fixture("signer.p12")));
    char stored[600];
    encrypt_password(qstest::kStorePassword, stored);
    const std::string conf = dir.file("q.conf");
    qstest::write_file(conf, "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + store + "\ncertpasswd=" + stored + "\n");
    const std::string in = qstest::fixture("one-page.pdf");
    pdfsigning_init_cmd();
    ASSERT_EQ(sign(in.c_str(), dir.file("first.pdf").c_str(), "", "", "", 0, "", "", "", "", conf.c_str(), 0, 0), 0)
        << cryptotest::message();
    qstest::write_file(dir.file("next.p12"), qstest::read_file(qstest::fixture("self.p12")));
    ASSERT_EQ(std::rename(dir.file("next.p12").c_str(), store.c_str()), 0);
    ASSERT_EQ(sign(in.c_str(), dir.file("second.pdf").c_str(), "", "", "", 0, "", "", "", "", conf.c_str(), 0, 0), 0)
        << cryptotest::message();
    pdfsigning_shutdown();
    for (const auto &[file, signer] : {std::pair<std::string, std::string>{"first.pdf", "Test Signer"},
                                      std::pair<std::string, std::string>{"second.pdf", "Self Signed"}}) {
        const std::string out = qstest::run_shell("pdfsig " + qstest::shell_quote(dir.file(file)) + " 2>&1").out;
        EXPECT_NE(out.find("Signature is Valid"), std::string::npos) << out;
        EXPECT_NE(out.find("Signer Certificate Common Name: " + signer), std::string::npos) << out;
    }
}

}  // namespace
