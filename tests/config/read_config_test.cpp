#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config_helpers.h"

namespace {

using cfgtest::ConfFile;
using cfgtest::pkcs12_lines;
using cfgtest::read;
using cfgtest::stored;
using cfgtest::take_message;

const char *kPkcs12Missing =
    "Error processing configuration file! One or more of the entries certfile and certpasswd may be missing!";
const char *kPkcs11Missing = "Error processing configuration file! One or more of the entries p11url, signerpem, "
                             "capem, library and engine may be missing!";
const char *kStoreInvalid = "Error processing configuration file! The entry certstore is missing or invalid!";

std::string pkcs11_lines(const std::string &p11url, bool with_capem = true) {
    return "certstore=PKCS11 SECURITY DEVICE\np11url=" + p11url +
           "\nsignerpem=/pem/signer.pem\nengine=/lib/engine.so\nlibrary=/lib/module.so\n" +
           (with_capem ? "capem=/pem/ca.pem\n" : "");
}

std::string json_string(const std::string &text) {
    std::string q = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + "\"";
}

TEST(ReadConfig, MinimalPkcs12FileGetsEveryDefault) {
    ConfFile file(pkcs12_lines());
    auto [rc, r] = read(file.path);
    ASSERT_EQ(rc, 0) << take_message();
    EXPECT_STREQ(r->conffile, file.path.c_str());
    EXPECT_EQ(r->certfiledata, 0);
    EXPECT_STREQ(r->certfile, "/keys/signer.p12");
    EXPECT_STREQ(r->certpasswd, "demo-pass");
    EXPECT_STREQ(r->hashalgo, "SHA256");
    EXPECT_STREQ(r->sigrect, "[-170 -80 -40 -40]");
    EXPECT_STREQ(r->sigpage, "1");
    EXPECT_STREQ(r->extrarange, "0");
    EXPECT_STREQ(r->subfilter, "/adbe.pkcs7.detached");
    EXPECT_STREQ(r->cachedir, "/tmp");
    EXPECT_STREQ(r->sigdateformat, "%c");
    EXPECT_STREQ(r->logfile, "");
    EXPECT_STREQ(r->p11key, "");
}

TEST(ReadConfig, HashAlgorithmIsNormalised) {
    const char *cases[][2] = {{"sha1", "SHA1"},     {"SHA1", "SHA1"},     {"sha384", "SHA384"},
                              {"SHA384", "SHA384"}, {"sha512", "SHA512"}, {"SHA512", "SHA512"},
                              {"sha224", "SHA224"}, {"SHA224", "SHA224"}, {"Sha384", "SHA256"},
                              {"sha256", "SHA256"}, {"md5", "SHA256"},    {"sha-512", "SHA256"}};
    for (const auto &c : cases) {
        ConfFile file(pkcs12_lines() + "hashalgo=" + c[0] + "\n");
        auto [rc, r] = read(file.path);
        EXPECT_EQ(rc, 0);
        EXPECT_STREQ(r->hashalgo, c[1]) << c[0];
    }
}

TEST(ReadConfig, DebugOnGivesTheDefaultLogFile) {
    ConfFile on(pkcs12_lines() + "debug=on\n");
    EXPECT_STREQ(read(on.path).record->logfile, "/tmp/quillseal.log");
    ConfFile kept(pkcs12_lines() + "debug=on\nlogfile=/var/log/qs.log\n");
    EXPECT_STREQ(read(kept.path).record->logfile, "/var/log/qs.log");
    ConfFile other(pkcs12_lines() + "debug=On\n");
    EXPECT_STREQ(read(other.path).record->logfile, "");
}

TEST(ReadConfig, Pkcs11KeyReference) {
    const std::string pin = "pin=" + stored("4711") + "\n";
    ConfFile slot(pkcs11_lines("slot_1-id_01") + pin);
    auto a = read(slot.path);
    EXPECT_EQ(a.rc, 0) << take_message();
    EXPECT_STREQ(a.record->p11key, "slot_1-id_01");
    ConfFile url(pkcs11_lines("pkcs11:token=t;object=k") + pin);
    auto b = read(url.path);
    EXPECT_EQ(b.rc, 0);
    EXPECT_STREQ(b.record->pin, "4711");
    EXPECT_STREQ(b.record->p11key, "pkcs11:token=t;object=k;pin-value=4711");
    ConfFile no_pin(pkcs11_lines("id_01"));
    EXPECT_STREQ(read(no_pin.path).record->p11key, "id_01");
}

TEST(ReadConfig, KeyReferenceThatWouldBeCutIsRefused) {
    ConfFile file(pkcs11_lines(std::string(246, 'u')));
    const std::string json = R"({"conffile":)" + json_string(file.path) + R"(,"pin":")" + std::string(255, '9') + "\"}";
    auto r = read(json);
    EXPECT_EQ(r.rc, -11);
    EXPECT_STREQ(r.record->p11key, "");
    EXPECT_STREQ(r.record->sigpage, "1");
    EXPECT_NE(take_message().find("too long"), std::string::npos);
}

TEST(ReadConfig, KeyStoreChecks) {
    ConfFile no_capem(pkcs11_lines("slot_1-id_01", false));
    auto a = read(no_capem.path);
    EXPECT_EQ(a.rc, -11);
    EXPECT_EQ(take_message(), kPkcs11Missing);
    const std::string gui = R"({"usinggui":"true","conffile":)" + json_string(no_capem.path) + "}";
    EXPECT_EQ(read(gui).rc, 0) << take_message();

    ConfFile lower("certstore=pkcs12 keystore file\ncertfile=/a.p12\ncertpasswd=" + stored("x") + "\n");
    EXPECT_EQ(read(lower.path).rc, -1);
    EXPECT_EQ(take_message(), kStoreInvalid);
    ConfFile none("certfile=/a.p12\n");
    auto n = read(none.path);
    EXPECT_EQ(n.rc, -1);
    EXPECT_EQ(take_message(), kStoreInvalid);
    EXPECT_STREQ(n.record->sigpage, "1");  // defaults are applied before the check

    ConfFile no_pass("certstore=PKCS12 KEYSTORE FILE\ncertfile=/a.p12\n");
    EXPECT_EQ(read(no_pass.path).rc, -1);
    EXPECT_EQ(take_message(), kPkcs12Missing);
    ConfFile no_file("certstore=PKCS12 KEYSTORE FILE\ncertpasswd=" + stored("x") + "\n");
    EXPECT_EQ(read(no_file.path).rc, -1);
    EXPECT_EQ(take_message(), kPkcs12Missing);
}

TEST(ReadConfig, UnreadableFileGivesARecordWithoutDefaults) {
    qstest::TempDir dir;
    for (const std::string &path : {dir.file("absent.conf"), dir.path()}) {
        auto r = read(path);
        EXPECT_EQ(r.rc, -1);
        ASSERT_NE(r.record, nullptr);
        EXPECT_EQ(take_message(), "Error opening file " + path + "... Please provide a config file!");
        EXPECT_STREQ(r.record->cachedir, "");
        EXPECT_STREQ(r.record->hashalgo, "");
    }
    // JSON settings survive a missing file, but nothing else is added.
    auto j = read(R"({"certstore":"PKCS12 KEYSTORE FILE","conffile":)" + json_string(dir.file("absent.conf")) + "}");
    EXPECT_EQ(j.rc, -1);
    EXPECT_STREQ(j.record->certstore, "PKCS12 KEYSTORE FILE");
    EXPECT_STREQ(j.record->sigpage, "");
}

TEST(ReadConfig, PathTooLongForTheRecordIsNotCutToAnotherFile) {
    qstest::TempDir dir;
    const std::string longer = dir.path() + "/" + std::string(300 - dir.path().size(), 'c');
    const std::string cut = longer.substr(0, 255);
    qstest::write_file(cut, pkcs12_lines());
    for (const std::string &configuration : {longer, R"({"conffile":)" + json_string(longer) + "}"}) {
        auto r = read(configuration);
        EXPECT_EQ(r.rc, -1);
        EXPECT_STREQ(r.record->certstore, "");
        EXPECT_EQ(take_message().rfind("Error opening file " + longer.substr(0, 100), 0), 0u);
    }
}

TEST(ReadConfig, JsonWinsOverTheFile) {
    ConfFile file(pkcs11_lines("slot_1-id_01") + "certfile=/from/file.p12\nsigpage=5\nappname=File\n");
    const std::string json = R"({"certstore":"PKCS12 KEYSTORE FILE","certfile":"TUlJQ2Rh","certpasswd":"pw",)"
                             R"("sigpage":2,"appname":"Json","conffile":)" + json_string(file.path) + "}";
    auto r = read(json);
    EXPECT_EQ(r.rc, 0) << take_message();
    EXPECT_STREQ(r.record->certstore, "PKCS12 KEYSTORE FILE");
    EXPECT_EQ(r.record->certfiledata, 1);
    EXPECT_STREQ(r.record->certfile, "TUlJQ2Rh");
    EXPECT_STREQ(r.record->sigpage, "5");  // the number in JSON is ignored
    EXPECT_STREQ(r.record->appname, "Json");
    EXPECT_STREQ(r.record->p11key, "");
}

TEST(ReadConfig, CertfileFromTheFileIsAPathEvenAfterJson) {
    ConfFile file(pkcs12_lines());
    for (const std::string &certfile : {std::string(), std::string(R"("certfile":"",)")}) {
        auto r = read("{" + certfile + R"("conffile":)" + json_string(file.path) + "}");
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.record->certfiledata, 0);
        EXPECT_STREQ(r.record->certfile, "/keys/signer.p12");
    }
}

// Every text field of the record except conffile, which names the file read.
#define QS_TEXT_FIELDS(X)                                                                                  \
    X(certpasswd) X(sigrect) X(sigimage) X(tsaurl) X(sigpage) X(pin) X(signerpem) X(capem) X(engine)       \
    X(certstore) X(library) X(extrarange) X(sigtext) X(tsacert) X(tsauser) X(tsapasswd) X(hashalgo)        \
    X(appname) X(sigcontact) X(subfilter) X(p11key) X(p11url) X(usinggui) X(cachedir) X(sigfont)           \
    X(sigdateformat) X(proxyprotocol) X(proxyhost) X(debug) X(logfile) X(encpermpwd) X(encpermprint)      \
    X(encpermchange) X(encpermcopy) X(encpermaccess) X(encmetadata) X(cryptolib) X(httptimeout)  \
    X(netconcurrency)

void expect_same_texts(const SigningConfig &a, const SigningConfig &b) {
#define QS_SAME(f) EXPECT_STREQ(a.f, b.f) << #f;
    QS_TEXT_FIELDS(QS_SAME)
#undef QS_SAME
}

TEST(ReadConfig, FileAndJsonWithTheSameSettingsGiveTheSameRecord) {
    struct Setting {
        const char *name;
        std::string value;
    };
    const Setting settings[] = {
        {"certstore", "PKCS12 KEYSTORE FILE"}, {"certpasswd", "demo-pass"}, {"sigrect", "[10 10 200 60]"},
        {"sigimage", "/img/sig.png"},          {"tsaurl", "https://tsa.test/ts"}, {"sigpage", "*"},
        {"pin", "4711"},                        {"signerpem", "/pem/s.pem"},     {"capem", "/pem/ca.pem"},
        {"engine", "/lib/e.so"},                {"library", "/lib/m.so"},        {"extrarange", "2048"},
        {"sigtext", "Signed by\nme"},           {"tsacert", "/pem/tsa.pem"},     {"tsauser", "u"},
        {"tsapasswd", "p"},                     {"hashalgo", "sha512"},          {"appname", "Batch"},
        {"sigcontact", "ops@example.org"},      {"subfilter", "adbe.pkcs7.sha1"}, {"certfile", "/keys/s.p12"},
        {"httptimeout", "45"},                  {"netconcurrency", "8"},
    };
    std::string lines;
    std::string json = "{";
    for (const Setting &s : settings) {
        std::string value = s.value;
        if (std::strcmp(s.name, "certpasswd") == 0 || std::strcmp(s.name, "pin") == 0) value = stored(value);
        if (std::strcmp(s.name, "sigtext") == 0) value = "Signed by\\nme";
        if (std::strcmp(s.name, "tsaurl") == 0) value = "https\\://tsa.test/ts";
        lines += std::string(s.name) + "=" + value + "\n";
        json += json_string(s.name) + ":" + json_string(s.value) + ",";
    }
    ConfFile file(lines);
    ConfFile empty("");
    json += R"("conffile":)" + json_string(empty.path) + "}";
    auto from_file = read(file.path);
    auto from_json = read(json);
    ASSERT_EQ(from_file.rc, 0) << take_message();
    ASSERT_EQ(from_json.rc, 0) << take_message();
    EXPECT_STREQ(from_file.record->certfile, from_json.record->certfile);
    EXPECT_STREQ(from_json.record->sigtext, "Signed by\nme");
    EXPECT_STREQ(from_json.record->hashalgo, "SHA512");
    expect_same_texts(*from_file.record, *from_json.record);
}

}  // namespace
