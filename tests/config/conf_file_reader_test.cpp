#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>

#include "config_helpers.h"

namespace {

using cfgtest::ConfFile;
using cfgtest::Record;
using cfgtest::stored;
using cfgtest::take_message;

Record read_text(const std::string &text) {
    ConfFile file(text);
    Record record = cfgtest::new_record();
    char path[256];
    std::strcpy(path, file.path.c_str());
    take_message();
    EXPECT_EQ(read_conf_file(path, record.get()), 0) << take_message();
    return record;
}

TEST(ConfFileReader, FirstOccurrenceOfAKeyWins) {
    Record r = read_text("certstore=PKCS11 SECURITY DEVICE\ncertstore=PKCS12 KEYSTORE FILE\n"
                         "certstore=\n");
    EXPECT_STREQ(r->certstore, "PKCS11 SECURITY DEVICE");
    // An empty value leaves the field unset, so a later line still fills it.
    Record s = read_text("sigpage=\nsigpage=3\n");
    EXPECT_STREQ(s->sigpage, "3");
}

TEST(ConfFileReader, CommentsPrefixesAndBlanks) {
    Record r = read_text("#certfile=/commented.p12\n"
                         " certfile=/keys/a.p12\n"
                         "my own appname=Batch signer\n"
                         "hashalgo =sha1\n"
                         "sigcontact=  ops@example.org \n"
                         "slotindex=3\ncertid=7\nsigmaskdigits=4\nunknown=1\n"
                         "Debug=on\n");
    EXPECT_STREQ(r->certfile, "/keys/a.p12");
    EXPECT_STREQ(r->appname, "Batch signer");
    EXPECT_STREQ(r->hashalgo, "");
    EXPECT_STREQ(r->sigcontact, "  ops@example.org ");
    EXPECT_STREQ(r->debug, "");
}

TEST(ConfFileReader, EveryLineEndAndAMissingLastLineEnd) {
    Record r = read_text("sigrect=[1 2 3 4]\rsigpage=2\r\nsigimage=/img.png\nappname=last");
    EXPECT_STREQ(r->sigrect, "[1 2 3 4]");
    EXPECT_STREQ(r->sigpage, "2");
    EXPECT_STREQ(r->sigimage, "/img.png");
    EXPECT_STREQ(r->appname, "last");
}

TEST(ConfFileReader, KeysAreTriedInTheirOrderAndPlainKeysEndTheLine) {
    // certfile comes before sigrect in the key order and ends the line.
    Record r = read_text("sigrect=[1 1 2 2] certfile=/a.p12\n"
                         "sigpage=4 appname=x\n");
    EXPECT_STREQ(r->certfile, "/a.p12");
    EXPECT_STREQ(r->sigrect, "");
    EXPECT_STREQ(r->sigpage, "4 appname=x");
    EXPECT_STREQ(r->appname, "");
}

TEST(ConfFileReader, ContinuingKeysLetLaterKeysMatchTheSameLine) {
    const std::string pin = stored("1234");
    Record r = read_text("sigtext=Signed by me tsaurl=http://tsa.test pin=" + pin + "\n");
    EXPECT_STREQ(r->sigtext, ("Signed by me tsaurl=http://tsa.test pin=" + pin).c_str());
    EXPECT_STREQ(r->tsaurl, ("http://tsa.test pin=" + pin).c_str());
    EXPECT_STREQ(r->pin, "1234");
}

TEST(ConfFileReader, StoredPasswordsAreDecrypted) {
    std::string upper = stored("pin-0042");
    for (char &c : upper) c = static_cast<char>(::toupper(c));
    Record r = read_text("certpasswd=" + stored("demo-pass") + "\r\npin=" + upper + "\n");
    EXPECT_STREQ(r->certpasswd, "demo-pass");
    EXPECT_STREQ(r->pin, "pin-0042");
    // The longest password whose stored form fits the line.
    const std::string longest(119, 'p');
    Record l = read_text("certpasswd=" + stored(longest) + "\n");
    EXPECT_STREQ(l->certpasswd, longest.c_str());
    // The remote signing service's secrets; the "pin=" inside "cscpin=" is
    // that key's line, not the device PIN's.
    Record c = read_text("cscpin=" + stored("730914") + "\ncsctoken=" + stored("token-1") + "\ncscpasswd=" +
                         stored("secret-2") + "\npin=" + stored("device-3") + "\n");
    EXPECT_STREQ(c->cscpin, "730914");
    EXPECT_STREQ(c->csctoken, "token-1");
    EXPECT_STREQ(c->cscpasswd, "secret-2");
    EXPECT_STREQ(c->pin, "device-3");
}

TEST(ConfFileReader, EscapesInLinesAndTheSignatureText) {
    Record r = read_text("tsaurl=http\\://tsa.test\\:8080/ts\n"
                         "logfile=/var/log/a\\\\b.log\n"
                         "sigfont=/fonts/x\\\\\\\\y\\\\\\:z.ttf\n"
                         "sigtext=Signed\\nby\\r\\tme\\\n");
    EXPECT_STREQ(r->tsaurl, "http://tsa.test:8080/ts");
    EXPECT_STREQ(r->logfile, "/var/log/a\\b.log");
    // Each escape keeps the character after it: two escaped backslashes and an escaped colon.
    EXPECT_STREQ(r->sigfont, "/fonts/x\\\\y\\:z.ttf");
    EXPECT_STREQ(r->sigtext, "Signed\nby\r\\tme\\");
}

TEST(ConfFileReader, LongLinesAreCutInto255BytePieces) {
    const std::string name(247, 'a');
    Record r = read_text("appname=" + name + "sigpage=9\n");
    EXPECT_STREQ(r->appname, name.c_str());
    EXPECT_STREQ(r->sigpage, "9");
}

TEST(ConfFileReader, SubFilterIsNormalised) {
    const char *cases[][2] = {
        {"adbe.pkcs7.sha1", "/adbe.pkcs7.sha1"},
        {"adbe.pkcs7.detached", "/adbe.pkcs7.detached"},
        {"adbe.x509.rsa.sha1", "/adbe.x509.rsa.sha1"},
        {"/adbe.pkcs7.sha1", "/adbe.pkcs7.detached"},
        {"ETSI.CAdES.detached", "/ETSI.CAdES.detached"},
        {"/ETSI.CAdES.detached", "/adbe.pkcs7.detached"},
        {"ADBE.PKCS7.SHA1", "/adbe.pkcs7.detached"},
        {"", "/adbe.pkcs7.detached"},
    };
    for (const auto &c : cases) {
        char field[256];
        std::strcpy(field, c[0]);
        EXPECT_EQ(validate_sub_filter(field), 0);
        EXPECT_STREQ(field, c[1]) << c[0];
    }
    Record r = read_text("subfilter=adbe.x509.rsa.sha1\n");
    EXPECT_STREQ(r->subfilter, "/adbe.x509.rsa.sha1");
}

TEST(ConfFileReader, UnreadablePathsFailWithTheSameMessageAndChangeNothing) {
    qstest::TempDir dir;
    for (const std::string &path : {dir.file("missing.conf"), dir.path()}) {
        Record r = cfgtest::new_record();
        std::strcpy(r->appname, "kept");
        char buf[256];
        std::strcpy(buf, path.c_str());
        take_message();
        EXPECT_EQ(read_conf_file(buf, r.get()), -1);
        EXPECT_EQ(take_message(), "Error opening file " + path + "... Please provide a config file!");
        EXPECT_STREQ(r->appname, "kept");
        EXPECT_EQ(r->certfile, nullptr);
    }
}

TEST(ConfFileReader, EmptyPathReadsTheDefaultFile) {
    Record r = cfgtest::new_record();
    char path[256] = "";
    take_message();
    const int rc = read_conf_file(path, r.get());
    EXPECT_STREQ(path, "/usr/local/quillseal/quillseal.conf");
    struct stat info {};
    if (stat(path, &info) != 0) {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(take_message(), "Error opening file /usr/local/quillseal/quillseal.conf... Please provide a config file!");
    }
}

TEST(ConfFileLine, StoresOnlyIntoAnEmptyField) {
    char field[256] = "";
    EXPECT_EQ(read_conf_file_line("x certstore=PKCS12 KEYSTORE FILE\r\n", "certstore=", field), 0);
    EXPECT_STREQ(field, "PKCS12 KEYSTORE FILE");
    EXPECT_EQ(read_conf_file_line("certstore=other\n", "certstore=", field), -1);
    EXPECT_STREQ(field, "PKCS12 KEYSTORE FILE");
    char other[256] = "";
    EXPECT_EQ(read_conf_file_line("certstore=x\n", "certfile=", other), -1);
    EXPECT_STREQ(other, "");
}

TEST(ConfFileEntry, LooksUpOneKeyWithoutDecrypting) {
    const std::string hex = stored("demo-pass");
    ConfFile file("#certstore=commented\ncertstore=PKCS11 SECURITY DEVICE\ncertstore=second\n"
                  "certpasswd=" + hex + "\ntsaurl=http\\://tsa\r\n");
    char out[256] = "unchanged";
    EXPECT_EQ(read_conf_file_entry(file.path.c_str(), "certstore=", out), 0);
    EXPECT_STREQ(out, "PKCS11 SECURITY DEVICE");
    EXPECT_EQ(read_conf_file_entry(file.path.c_str(), "certpasswd=", out), 0);
    EXPECT_EQ(out, hex);
    EXPECT_EQ(read_conf_file_entry(file.path.c_str(), "tsaurl=", out), 0);
    EXPECT_STREQ(out, "http://tsa");
    std::strcpy(out, "unchanged");
    EXPECT_EQ(read_conf_file_entry(file.path.c_str(), "engine=", out), -1);
    EXPECT_EQ(read_conf_file_entry((file.path + ".missing").c_str(), "certstore=", out), -1);
    EXPECT_EQ(read_conf_file_entry(file.dir.path().c_str(), "certstore=", out), -1);
    EXPECT_STREQ(out, "unchanged");
}

TEST(RemoveEscapes, WorksInPlace) {
    char text[64] = "a\\\\b\\:c\\d";
    removeEscapeCharacters(text, text);
    EXPECT_STREQ(text, "a\\b:c\\d");
}

}  // namespace
