// Hostile configurations: overlong and binary lines, stored passwords that are
// no stored form, values and paths near and over the 255-byte limit, through
// the real program (key=value files, a JSON text on -z) and through the
// library's own entry points (long JSON texts). Every run ends with one clean
// status line and no sanitizer report; nothing is written past a field.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "cli/cli_support.h"
#include "support/support.h"

namespace {

using qstest::TempDir;

bool starts_with(const std::string &text, const std::string &prefix) { return text.rfind(prefix, 0) == 0; }

std::string stored(const std::string &password) {
    char out[513];
    encrypt_password(password.c_str(), out);
    return out;
}

// Every byte value but the line ends, repeated.
std::string binary_bytes(std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; bytes.size() < count; ++i) {
        const char c = static_cast<char>(i % 256);
        if (c != '\n' && c != '\r') bytes += c;
    }
    return bytes;
}

// What a run is expected to end with: a signed output, or a "-1#" line that
// starts with the given text.
struct Expected {
    bool signs;
    std::string line;
};
const Expected kSigns{true, "0#Document signed: input["};
Expected refused(const std::string &line) { return {false, "-1#" + line}; }

class HostileConfig : public ::testing::Test {
protected:
    void SetUp() override { qstest::write_file(input, qstest::read_file(qstest::fixture("classic.pdf"))); }

    // Signs the fixture document with the configuration given to -z and checks the outcome.
    void expect_run(const std::string &configuration, const Expected &expected) {
        const std::string before = qstest::read_file(input);
        const clitest::BoundedRun r = clitest::run_bounded(dir, {"-i", input, "-o", output, "-z", configuration});
        EXPECT_EQ(clitest::output_lines(r.out).size(), 1u) << r.out;
        EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
        EXPECT_TRUE(starts_with(r.out, expected.line)) << r.out;
        EXPECT_EQ(r.status, expected.signs ? 0 : 255) << r.out << r.err;
        EXPECT_EQ(qstest::read_file(input), before);
        if (expected.signs) {
            EXPECT_EQ(clitest::check_signed_output(output), "");
        } else {
            EXPECT_FALSE(qstest::file_exists(output));
        }
        std::remove(output.c_str());
    }

    // A key=value file of the text given, run as expect_run does.
    void expect_file(const std::string &text, const Expected &expected) {
        const std::string conf = dir.file("hostile.conf");
        qstest::write_file(conf, text);
        expect_run(conf, expected);
    }

    std::string store_lines(const std::string &password_line) const {
        return "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + qstest::fixture("signer.p12") + "\n" + password_line;
    }
    std::string good_lines() const { return store_lines("certpasswd=" + stored(qstest::kStorePassword) + "\n"); }

    TempDir dir;
    std::string input = dir.file("doc.pdf"), output = dir.file("signed.pdf");
};

TEST_F(HostileConfig, OverlongAndBinaryLines) {
    const std::string digits(300, '9');
    const struct {
        const char *name;
        std::string lines;
        Expected expected;
    } cases[] = {
        {"signature text of 5000 bytes", "sigtext=" + std::string(5000, 'A') + "\n", kSigns},
        {"a line of 5000 binary bytes", binary_bytes(5000) + "\n", kSigns},
        {"binary bytes before the keys", binary_bytes(300) + "certstore=PKCS12 KEYSTORE FILE\n", kSigns},
        {"binary application name", "appname=" + binary_bytes(400) + "\n", kSigns},
        {"binary contact", "sigcontact=" + binary_bytes(240) + "\n", kSigns},
        {"binary digest name and page", "hashalgo=\x01\xff\x80\nsigpage=\xfe\xff\n", kSigns},
        {"digest name of 3000 bytes", "hashalgo=" + std::string(3000, 'x') + "\n", kSigns},
        {"sub-filter of 3000 bytes", "subfilter=" + std::string(3000, 's') + "\n", kSigns},
        {"rectangle of 4000 digits", "sigrect=[" + std::string(4000, '9') + "\n", kSigns},
        {"page of 400 digits", "sigpage=" + std::string(400, '9') + "\n", kSigns},
        {"page far below the first", "sigpage=-99999999999999999999\n", kSigns},
        {"extra range of 300 digits", "extrarange=" + digits + "\n",
         refused("The extrarange value " + digits.substr(0, 40) + "... is out of range.")},
        {"extra range of 300 digits, signed", "extrarange=-" + digits + "\n", refused("The extrarange value -")},
        {"line ends only", std::string(3000, '\n') + std::string(3000, '\r'), kSigns},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        expect_file(good_lines() + c.lines, c.expected);
    }
}

TEST_F(HostileConfig, StoredPasswordsThatAreNoStoredForm) {
    const Expected missing = refused(
        "Error processing configuration file! One or more of the entries certfile and certpasswd may be missing!");
    const Expected wrong = refused("Unable to parse pkcs12; problem with key store or password");
    const std::string good = stored(qstest::kStorePassword);
    const struct {
        const char *name;
        std::string value;
        Expected expected;
    } cases[] = {
        {"odd number of digits", "abc", missing},
        {"not hexadecimal", "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz", wrong},
        {"empty", "", missing},
        {"stored form with a digit too many", good + "0", kSigns},
        {"stored form cut by one digit", good.substr(0, good.size() - 1), wrong},
        {"stored form in capitals", [&] {
             std::string upper = good;
             for (char &ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
             return upper;
         }(), kSigns},
        {"6000 digits", std::string(6000, 'a'), wrong},
        {"binary bytes", binary_bytes(200), missing},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        expect_file(store_lines("certpasswd=" + c.value + "\n"), c.expected);
    }
}

// A folder path of the length given, made of folders of at most 200 bytes.
std::string deep_folder(const TempDir &dir, std::size_t length) {
    std::string path = dir.path();
    while (path.size() + 1 < length) {
        const std::size_t room = length - path.size() - 1;
        path += "/" + std::string(room > 200 ? 200 : room, 'd');
        mkdir(path.c_str(), 0700);
    }
    return path;
}

TEST_F(HostileConfig, PathsNearAndOver255Bytes) {
    const std::string store = qstest::read_file(qstest::fixture("signer.p12"));
    // "certfile=" and the line end leave 245 bytes of a 255-byte line for the path.
    const std::string fitting = deep_folder(dir, 239) + "/k.p12";
    ASSERT_EQ(fitting.size(), 245u);
    qstest::write_file(fitting, store);
    const std::string over = deep_folder(dir, 250) + "/key.p12";
    qstest::write_file(over, store);
    const std::string password = "certpasswd=" + stored(qstest::kStorePassword) + "\n";
    const std::string pkcs12 = "certstore=PKCS12 KEYSTORE FILE\n";
    const std::string too_long = "Error processing configuration file! The line of the entry ";

    expect_file(pkcs12 + "certfile=" + fitting + "\n" + password, kSigns);
    // One byte more fills the line buffer; only the line end goes on in the next piece.
    const std::string filling = deep_folder(dir, 239) + "/kk.p12";
    qstest::write_file(filling, store);
    expect_file(pkcs12 + "certfile=" + filling + "\n" + password, kSigns);
    // Cut at the line limit the path would name some other file.
    expect_file(pkcs12 + "certfile=" + over + "\n" + password, refused(too_long + "certfile= is longer"));
    expect_file(good_lines() + "debug=on\nlogfile=" + over + ".log\n", refused(too_long + "logfile= is longer"));
    expect_file(good_lines() + "cachedir=" + deep_folder(dir, 300) + "\n", refused(too_long + "cachedir= is longer"));
    expect_file(good_lines() + "tsaurl=http://" + std::string(300, 'h') + "\n", refused(too_long + "tsaurl= is longer"));
    expect_file(good_lines() + "cachedir=" + deep_folder(dir, 240) + "\n", kSigns);
    expect_file(good_lines() + "debug=on\nlogfile=" + deep_folder(dir, 240) + "/q.log\n", kSigns);

    // The configuration path itself: 255 bytes are taken, 256 refused by the program.
    const std::string conf255 = deep_folder(dir, 249) + "/c.cnf";
    ASSERT_EQ(conf255.size(), 255u);
    qstest::write_file(conf255, good_lines());
    expect_run(conf255, kSigns);
    expect_run(conf255 + "x", refused("Value too long for -z (at most 255 bytes)."));
}

TEST_F(HostileConfig, JsonTextOnTheCommandLine) {
    const std::string conf = dir.file("rest.conf");
    qstest::write_file(conf, "certfile=" + qstest::fixture("signer.p12") + "\n");
    const std::string head = "{\"conffile\":\"" + conf + "\",\"certstore\":\"PKCS12 KEYSTORE FILE\",";
    expect_run(head + "\"certpasswd\":\"demo-pass\"}", kSigns);
    expect_run(head + "\"certpasswd\":\"demo-pass\",\"sigpage\":\"\\u0000\\uffff\",\"hashalgo\":\"\\ud800\"}", kSigns);
    expect_run(head + "\"certpasswd\":\"wrong\"}", refused("Unable to parse pkcs12"));
    // A text that does not parse contributes nothing, and the default file is missing.
    expect_run(head + "\"certpasswd\":\"demo-pass\"", refused("No configuration file found or provided..."));
    expect_run(std::string(250, '[') + "{}", refused("No configuration file found or provided..."));
}

// Long JSON texts reach the library only through its entry points.
class HostileJson : public ::testing::Test {
protected:
    std::string member(const std::string &name, const std::string &value) const {
        return "\"" + name + "\":\"" + value + "\"";
    }
    TempDir dir;
};

TEST_F(HostileJson, ValuesOfThousandsOfBytesStayInsideTheirFields) {
    static const char *const kMembers[] = {
        "certpasswd", "sigrect", "sigimage", "tsaurl",  "sigpage",  "pin",    "signerpem", "capem",
        "engine",     "certstore", "library", "extrarange", "sigtext", "tsacert", "tsauser", "tsapasswd",
        "hashalgo",   "appname",  "sigcontact", "usinggui", "subfilter", "httptimeout", "netconcurrency"};
    const std::string empty_conf = dir.file("empty.conf");
    qstest::write_file(empty_conf, "");
    std::string json = "{" + member("conffile", empty_conf);
    for (const char *name : kMembers) json += "," + member(name, std::string(5000, 'v'));
    json += "," + member("certfile", std::string(100000, 'A')) + "}";

    SigningConfig *raw = nullptr;
    read_config(json.c_str(), &raw);
    std::unique_ptr<SigningConfig, decltype(&free_config)> config(raw, &free_config);
    ASSERT_TRUE(config);
    EXPECT_EQ(std::strlen(config->sigtext), 255u);
    EXPECT_EQ(std::strlen(config->certpasswd), 255u);
    EXPECT_STREQ(config->subfilter, "/adbe.pkcs7.detached");
    EXPECT_EQ(std::strlen(config->certfile), 100000u);
    char message[256];
    handle_error_message(message, 0);

    // The same text signs nothing: the key store data is no PKCS#12 store.
    const std::string in = dir.file("doc.pdf"), out = dir.file("out.pdf");
    qstest::write_file(in, qstest::read_file(qstest::fixture("classic.pdf")));
    EXPECT_EQ(sign(in.c_str(), out.c_str(), "", "", "", 0, "", "", "", "", json.c_str(), 0, 0), -1);
    handle_error_message(message, 0);
    EXPECT_NE(message[0], '\0');
    EXPECT_FALSE(qstest::file_exists(out));
}

TEST_F(HostileJson, OverlongConfigurationPathIsNotRead) {
    const std::string path = dir.path() + "/" + std::string(300, 'c');
    SigningConfig *raw = nullptr;
    EXPECT_EQ(read_config(("{" + member("conffile", path) + "}").c_str(), &raw), -1);
    std::unique_ptr<SigningConfig, decltype(&free_config)> config(raw, &free_config);
    char message[256];
    handle_error_message(message, 0);
    EXPECT_TRUE(starts_with(message, "Error opening file " + dir.path())) << message;
    EXPECT_EQ(config->conffile[255], '\0');
}

TEST_F(HostileJson, LongValuesStillSignWhenTheStoreIsSound) {
    const std::string empty_conf = dir.file("empty.conf");
    qstest::write_file(empty_conf, "");
    const std::string base64 =
        qstest::run_shell("openssl base64 -A -in " + qstest::shell_quote(qstest::fixture("signer.p12"))).out;
    const std::string json = "{" + member("conffile", empty_conf) + "," +
                             member("certstore", "PKCS12 KEYSTORE FILE") + "," + member("certfile", base64) +
                             "," + member("certpasswd", "demo-pass") + "," +
                             member("sigtext", std::string(5000, 't')) + "," +
                             member("appname", std::string(5000, 'n')) + "," +
                             member("sigcontact", std::string(5000, 'c')) + "," +
                             member("sigrect", "[" + std::string(5000, '7') + "]") + "}";
    const std::string in = dir.file("doc.pdf"), out = dir.file("out.pdf");
    qstest::write_file(in, qstest::read_file(qstest::fixture("classic.pdf")));
    char message[256];
    handle_error_message(message, 0);
    ASSERT_EQ(sign(in.c_str(), out.c_str(), "", "", "", 0, "", "", "", "", json.c_str(), 0, 0), 0)
        << (handle_error_message(message, 0), message);
    EXPECT_EQ(clitest::check_signed_output(out), "");
}

}  // namespace
