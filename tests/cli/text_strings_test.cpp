// Reasons, locations, titles and contacts in other scripts, signed through the
// real program: readers must decode the same characters that were given.
#include <gtest/gtest.h>

#include <string>

#include "cli/cli_support.h"
#include "support/support.h"

namespace {

struct Texts {
    const char *name;
    std::string reason, location, title, contact;
    bool kept_as_bytes;  // the exact bytes stand in the file as literal strings
};

// How qpdf decodes a text string (PDFDocEncoding, or UTF-16BE after its
// byte-order mark), as UTF-8.
std::string decoded(const std::string &json, const std::string &key) {
    const std::string marker = "\"" + key + "\": \"";
    const std::size_t at = json.find(marker);
    if (at == std::string::npos) return "<no " + key + ">";
    const std::size_t from = at + marker.size();
    return json.substr(from, json.find('"', from) - from);
}

TEST(TextStrings, ReadersDecodeTheCharactersThatWereGiven) {
    std::string long_contact;
    for (int i = 0; i < 40; ++i) long_contact += "承認";  // 240 bytes: moves the placeholder far
    const Texts rows[] = {
        {"German", "Genehmigt für Zahlung", "Köln", "Prüfbericht Übersicht", "Jürgen Groß", false},
        {"French", "Approuvé à réception — œuvre", "Besançon", "Être ou ne pas être", "Françoise € Noël",
         false},
        {"Greek", "Εγκρίθηκε για πληρωμή", "Αθήνα", "Σύμβαση", "Γιώργος", false},
        {"CJK", "承認済み：支払い", "東京都", "契約書 第3版", long_contact, false},
        {"Latin-1 bytes", "Genehmigt f\xfcr Zahlung", "Stadt K\xf6ln am Rhein", "Der T\xedtel hier",
         "J\xfcrgen M\xfcller", true},
        {"ASCII", "Approved by finance", "Berlin", "Contract 42", "signer@example.com", true},
    };
    qstest::TempDir dir;
    for (const Texts &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string conf = clitest::write_config(dir, "signer.p12", "sigcontact=" + row.contact + "\n");
        const std::string out = dir.file("signed.pdf");
        const clitest::BoundedRun r = clitest::run_bounded(
            dir, {"-i", qstest::fixture("classic.pdf"), "-o", out, "-z", conf, "-r", row.reason, "-l", row.location,
                  "-t", row.title});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(clitest::check_signed_output(out), "");

        const std::string json =
            qstest::run_shell("qpdf --json=1 --json-key=objects " + qstest::shell_quote(out)).out;
        const struct {
            const char *key;
            const std::string &given;
        } fields[] = {{"/Reason", row.reason},
                      {"/Location", row.location},
                      {"/Title", row.title},
                      {"/ContactInfo", row.contact}};
        const std::string file = qstest::read_file(out);
        for (const auto &field : fields) {
            SCOPED_TRACE(field.key);
            if (row.kept_as_bytes) {
                EXPECT_NE(file.find(std::string(field.key) + " (" + field.given + ")"), std::string::npos);
            } else {
                EXPECT_EQ(decoded(json, field.key), field.given);
            }
        }
        // Latin-1 bytes are read as PDFDocEncoding, which agrees with Latin-1 on these letters.
        if (row.name == std::string("Latin-1 bytes")) {
            EXPECT_EQ(decoded(json, "/Reason"), "Genehmigt für Zahlung");
        }
        std::remove(out.c_str());
    }
}

}  // namespace
