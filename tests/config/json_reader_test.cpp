#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config_helpers.h"

namespace {

using cfgtest::Record;

Record from_json(const std::string &json) {
    Record r = cfgtest::new_record();
    EXPECT_EQ(read_conf_json(json.c_str(), r.get()), 0);
    return r;
}

TEST(JsonReader, StringMembersFillTheirFieldsOthersAreIgnored) {
    Record r = from_json(R"({"certstore":"PKCS12 KEYSTORE FILE","certpasswd":"plain pw","pin":"1234",
        "sigpage":2,"sigrect":null,"hashalgo":true,"appname":"App","Appname":"wrong",
        "sigtext":"one\ntwo\\nthree","subfilter":"adbe.pkcs7.sha1","usinggui":"true",
        "p11url":"pkcs11:object=k","cachedir":"/c","slotindex":"1","certid":"2","conffile":"/etc/q.conf"})");
    EXPECT_STREQ(r->certstore, "PKCS12 KEYSTORE FILE");
    EXPECT_STREQ(r->certpasswd, "plain pw");
    EXPECT_STREQ(r->pin, "1234");
    EXPECT_STREQ(r->sigpage, "");
    EXPECT_STREQ(r->sigrect, "");
    EXPECT_STREQ(r->hashalgo, "");
    EXPECT_STREQ(r->appname, "App");
    // JSON escapes are JSON's own: a backslash-n written as "\\n" stays two characters.
    EXPECT_STREQ(r->sigtext, "one\ntwo\\nthree");
    EXPECT_STREQ(r->subfilter, "/adbe.pkcs7.sha1");
    EXPECT_STREQ(r->usinggui, "true");
    EXPECT_STREQ(r->p11url, "");
    EXPECT_STREQ(r->cachedir, "");
    EXPECT_STREQ(r->conffile, "/etc/q.conf");
    // No key store data: a certfile= line of the file will name a path.
    EXPECT_EQ(r->certfiledata, 0);
    ASSERT_NE(r->certfile, nullptr);
    EXPECT_STREQ(r->certfile, "");
}

TEST(JsonReader, CertfileIsKeptWholeOtherMembersAreCut) {
    const std::string data(20000, 'Q');
    const std::string text(1000, 't');
    Record r = from_json(R"({"certfile":")" + data + R"(","sigtext":")" + text + R"("})");
    EXPECT_EQ(r->certfiledata, 1);
    EXPECT_EQ(std::string(r->certfile), data);
    EXPECT_EQ(std::string(r->sigtext), text.substr(0, 255));
}

TEST(JsonReader, TextsThatAreNoObjectContributeNothing) {
    for (const std::string json : {R"({"certstore":"PKCS12 KEYSTORE FILE")", R"([{"certstore":"x"}])",
                                   R"({"certstore":)", "{"}) {
        Record r = from_json(json);
        EXPECT_STREQ(r->certstore, "") << json;
        EXPECT_STREQ(r->conffile, "") << json;
        EXPECT_EQ(r->certfiledata, 0);
    }
}

TEST(JsonReader, APlainTextNamesTheFile) {
    Record r = from_json("/etc/quillseal/other.conf");
    EXPECT_STREQ(r->conffile, "/etc/quillseal/other.conf");
    EXPECT_EQ(r->certfiledata, 0);
    ASSERT_NE(r->certfile, nullptr);
}

TEST(JsonEntry, CopiesOneStringMember) {
    char out[256] = "unchanged";
    const char *json = R"({"tsaurl":"http://tsa.test","sigpage":3,"long":")";
    std::string with_long = std::string(json) + std::string(600, 'l') + "\"}";
    EXPECT_EQ(read_conf_json_entry(with_long.c_str(), "tsaurl", out), 0);
    EXPECT_STREQ(out, "http://tsa.test");
    EXPECT_EQ(read_conf_json_entry(with_long.c_str(), "long", out), 0);
    EXPECT_EQ(std::strlen(out), 255u);
    std::strcpy(out, "unchanged");
    EXPECT_EQ(read_conf_json_entry(with_long.c_str(), "sigpage", out), -1);
    EXPECT_EQ(read_conf_json_entry(with_long.c_str(), "missing", out), -1);
    EXPECT_EQ(read_conf_json_entry("{broken", "tsaurl", out), -1);
    EXPECT_STREQ(out, "unchanged");
}

}  // namespace
