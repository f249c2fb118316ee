// Signing with an open password through the real program: the output opens
// only with that password, as AES-256 with the configured permissions, its
// signature covers the whole encrypted file, and nothing else is left behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <openssl/cms.h>

#include "core/base/handles.h"
#include "crypto/crypto_support.h"
#include "crypto/hex.h"
#include "crypto/local_service.h"

namespace {

using cryptotest::write_conf;
using qstest::fixture;
using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;
using qstest::TempDir;

constexpr const char *kOpen = "open-Pw-7731";
constexpr const char *kOwner = "owner-Pw-5120";
// "/ByteRange [ 0 a b c]" is written in the room of three 11-digit numbers.
constexpr std::size_t kByteRangeText = 52;

// The names in a folder with their contents.
std::map<std::string, std::string> folder(const std::string &path) {
    std::map<std::string, std::string> files;
    if (DIR *d = opendir(path.c_str())) {
        while (const dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") files[name] = qstest::read_file(path + "/" + name);
        }
        closedir(d);
    }
    return files;
}

std::string show_encryption(const std::string &pdf, const std::string &password) {
    return run_shell("qpdf --show-encryption --password=" + shell_quote(password) + " " + shell_quote(pdf) + " 2>&1")
        .out;
}

bool has_timestamp_token(const std::string &pdf) {
    FILE *f = std::fopen(pdf.c_str(), "rb");
    if (!f) return false;
    long range[4];
    char *inside = nullptr;
    long length = 0;
    const bool read = qpdf_get_byte_range(f, kOpen, range, nullptr) == 0 &&
                      get_internal_range(f, range[1], range[2], &inside, &length) == 0;
    std::fclose(f);
    qs::MallocPtr<char> hex(inside);
    const auto der = qs::parse_hex_pairs(read ? hex.get() : "");
    if (!der || der->empty()) return false;
    const unsigned char *cursor = der->data();
    qs::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der->size())));
    if (!cms) return false;
    CMS_SignerInfo *signer = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    return CMS_unsigned_get_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, -1) >= 0;
}

// What every signed and encrypted output must show to tools of others.
void expect_signed_and_encrypted(const std::string &pdf) {
    const std::string sig = run_shell("pdfsig -upw " + shell_quote(kOpen) + " " + shell_quote(pdf) + " 2>&1").out;
    EXPECT_NE(sig.find("Signature is Valid"), std::string::npos) << sig;
    EXPECT_NE(sig.find("Total document signed"), std::string::npos) << sig;
    const auto check = run_shell("qpdf --check --password=" + shell_quote(kOpen) + " " + shell_quote(pdf) + " 2>&1");
    EXPECT_EQ(check.status, 0) << check.out;
    const std::string shown = show_encryption(pdf, kOpen);
    EXPECT_NE(shown.find("R = 6\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("file encryption method: AESv3\n"), std::string::npos) << shown;
    // Without the password nothing opens it.
    EXPECT_EQ(run_shell("pdfsig " + shell_quote(pdf) + " 2>&1").out.find("Signature is Valid"), std::string::npos);
    EXPECT_NE(run_shell("qpdf --check " + shell_quote(pdf) + " 2>&1").out.find("invalid password"),
              std::string::npos);
    // The byte range was written again at the length of the room reserved for it.
    std::smatch m;
    const std::string bytes = qstest::read_file(pdf);
    static const std::regex range("/ByteRange \\[ 0 [0-9]+ [0-9]+ [0-9]+ *\\]");
    ASSERT_TRUE(std::regex_search(bytes, m, range));
    EXPECT_EQ(m.length(0), static_cast<long>(kByteRangeText)) << m.str(0);
}

TEST(EncryptedSigning, OutputsOpenOnlyWithThePasswordAndVerify) {
    qstest::LocalService tsa("tsa");
    TempDir dir;
    const std::string out_dir = dir.file("out");
    mkdir(out_dir.c_str(), 0755);
    struct Case {
        const char *name, *input;
        std::vector<std::string> flags;
        std::string conf;
    } cases[] = {
        {"one page", "one-page.pdf", {}, ""},
        {"object streams", "objstm.pdf", {}, ""},
        {"linearized", "linearized.pdf", {}, ""},
        {"visible on every page", "ten-pages.pdf", {"-v"}, "sigtext=Signed by %N\nsigpage=*\n"},
        {"certification asked for", "one-page.pdf", {"-c"}, ""},
        {"timestamped", "classic.pdf", {"-q"}, "tsaurl=" + tsa.url() + "\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string conf = write_conf(dir, "encpermpwd=" + std::string(kOwner) + "\n" + c.conf);
        const std::string input = fixture(c.input), output = out_dir + "/signed.pdf";
        std::vector<std::string> args{"-z", conf, "-i", input, "-o", output, "-p", kOpen};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        EXPECT_EQ(run_cli(args).out, "0#Document signed: input[" + input + "] output[" + output + "]\n");
        expect_signed_and_encrypted(output);
        const auto files = folder(out_dir);
        EXPECT_EQ(files.size(), 1u) << "the scratch file is gone";
        // An encrypted document is never certified: no DocMDP entry names it.
        EXPECT_EQ(qstest::read_file(output).find("/DocMDP"), std::string::npos);
        if (c.flags == std::vector<std::string>{"-q"}) {
            EXPECT_TRUE(has_timestamp_token(output));
        }
        EXPECT_EQ(run_cli({"verify", "-i", output}).out,
                  "-1#Document signature verification fails [The document is encrypted; it cannot be opened "
                  "without its password.]\n");
        std::remove(output.c_str());
    }
}

// The permission flags qpdf shows, in its order: accessibility, extraction,
// low and high resolution printing, assembly, forms, annotations, other.
std::string permission_flags(const std::string &shown) {
    static const char *const kLines[] = {
        "extract for accessibility: ", "extract for any purpose: ", "print low resolution: ",
        "print high resolution: ",     "modify document assembly: ", "modify forms: ",
        "modify annotations: ",        "modify other: "};
    std::string flags;
    for (const char *line : kLines) {
        const std::size_t at = shown.find(line);
        flags += at == std::string::npos ? '?' : shown.compare(at + std::strlen(line), 7, "allowed") == 0 ? 'y' : 'n';
    }
    return flags;
}

TEST(EncryptedSigning, PermissionsAreTheConfiguredOnes) {
    TempDir dir;
    const std::string output = dir.file("signed.pdf");
    // Accessibility cannot be denied in the AES-256 format: its flag is always set.
    struct Case {
        const char *conf, *flags;
        bool metadata_encrypted;
    } cases[] = {
        {"", "ynyyyyyy", false},
        {"encpermprint=1\nencpermchange=1\n", "ynynyyyn", false},
        {"encpermprint=2\nencpermchange=2\n", "ynnnyynn", false},
        {"encpermchange=3\n", "ynyyynnn", false},
        {"encpermchange=4\nencpermprint=-1\n", "ynnnnnnn", false},
        {"encpermaccess=1\nencpermcopy=1\nencmetadata=1\n", "yyyyyyyy", true},
        {"encpermaccess=2\nencpermcopy=2\nencmetadata=2\n", "ynyyyyyy", false},
        {"encpermprint=low\nencpermchange=99999999999999999999\n", "ynyynnnn", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.conf);
        const std::string conf = write_conf(dir, "encpermpwd=" + std::string(kOwner) + "\n" + c.conf);
        ASSERT_EQ(run_cli({"-z", conf, "-i", fixture("one-page.pdf"), "-o", output, "-p", kOpen}).out.rfind("0#", 0),
                  0u);
        const std::string as_user = show_encryption(output, kOpen);
        EXPECT_EQ(permission_flags(as_user), c.flags) << as_user;
        EXPECT_NE(as_user.find("Supplied password is user password"), std::string::npos);
        EXPECT_NE(show_encryption(output, kOwner).find("Supplied password is owner password"), std::string::npos);
        EXPECT_EQ(qstest::read_file(output).find("/EncryptMetadata false") == std::string::npos,
                  c.metadata_encrypted);
    }

    // With no owner password configured the owner's is one nobody knows: an
    // empty one would open the document with no password at all.
    const std::string conf = write_conf(dir, "");
    ASSERT_EQ(run_cli({"-z", conf, "-i", fixture("one-page.pdf"), "-o", output, "-p", kOpen}).out.rfind("0#", 0), 0u);
    EXPECT_NE(run_shell("qpdf --check --password= " + shell_quote(output) + " 2>&1").out.find("invalid password"),
              std::string::npos);
    EXPECT_EQ(permission_flags(show_encryption(output, kOpen)), "ynyyyyyy");
}

TEST(EncryptedSigning, FailuresLeaveTheFolderAsItWas) {
    TempDir dir;
    const std::string work = dir.file("work");
    mkdir(work.c_str(), 0755);
    const std::string input = work + "/doc.pdf", output = work + "/out.pdf";
    qstest::write_file(input, qstest::read_file(fixture("one-page.pdf")));
    // A user's files where a temporary file beside the output might go, one a
    // link to a file outside: none of them is touched.
    qstest::write_file(output, "an earlier output\n");
    qstest::write_file(output + ".tmp", "a user's file\n");
    qstest::write_file(dir.file("victim"), "outside\n");
    ASSERT_EQ(symlink(dir.file("victim").c_str(), (output + ".tmp0").c_str()), 0);
    const auto before = folder(work);

    const std::string good =
        qstest::write_signing_config(dir, "signer.p12", "encpermpwd=" + std::string(kOwner) + "\n", "good.conf");
    const std::string encrypted = dir.file("encrypted.pdf");
    ASSERT_EQ(run_shell("qpdf --encrypt '' owner 256 -- " + shell_quote(input) + " " + shell_quote(encrypted)).status, 0);
    const std::string signed_doc = dir.file("signed.pdf");
    ASSERT_EQ(run_cli({"-z", good, "-i", input, "-o", signed_doc}).out.rfind("0#", 0), 0u);
    struct Case {
        const char *name;
        std::string conf, input, line;
    } cases[] = {
        {"signature larger than its room, found after the encryption", qstest::write_signing_config(dir, "signer.p12", "extrarange=-4900\n", "small.conf"), input,
         "-1#Byte range underestimated... add extrarange="},
        {"key store missing", qstest::write_signing_config(dir, "no-such.p12", "", "missing.conf"), input,
         "-1#No such file or directory"},
        {"encrypted input", good, encrypted, "-1#Encrypted input PDFs cannot be signed"},
        {"output over the input", good, output, "-1#Output file is the input file itself"},
        // Encryption rewrites every byte: an earlier signature would no longer match.
        {"signed input", good, signed_doc, "-1#The document is signed already"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string line = run_cli({"-z", c.conf, "-i", c.input, "-o", output, "-p", kOpen}).out;
        EXPECT_EQ(line.rfind(c.line, 0), 0u) << line;
        EXPECT_EQ(folder(work), before);
        EXPECT_EQ(qstest::read_file(dir.file("victim")), "outside\n");
    }

    // Signed, the output replaces the earlier one and nothing else changes.
    const std::string line = run_cli({"-z", good, "-i", input, "-o", output, "-p", kOpen}).out;
    EXPECT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
    expect_signed_and_encrypted(output);
    auto after = folder(work);
    after[output.substr(work.size() + 1)] = before.at("out.pdf");
    EXPECT_EQ(after, before);
}

TEST(EncryptedSigning, PasswordsNeverReachTheLogOrAMessage) {
    TempDir dir;
    const std::string log = dir.file("debug.log");
    const std::string debug = "debug=on\nlogfile=" + log + "\nencpermpwd=" + kOwner + "\n";
    const std::string output = dir.file("out.pdf");
    for (const std::string &extra : {std::string(), std::string("extrarange=-4900\n"), std::string("sigimage=/none.png\n")}) {
        SCOPED_TRACE(extra);
        const auto run = run_shell(std::string(QS_CLI_PATH) + " -z " + shell_quote(write_conf(dir, debug + extra)) +
                                   " -i " + shell_quote(fixture("one-page.pdf")) + " -o " + shell_quote(output) +
                                   " -p " + shell_quote(kOpen) + " -v 2>&1");
        EXPECT_EQ(run.out.find(kOpen), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find(kOwner), std::string::npos) << run.out;
    }
    const std::string logged = qstest::read_file(log);
    EXPECT_NE(logged.find("Signing and encrypting"), std::string::npos) << logged;
    EXPECT_EQ(logged.find(kOpen), std::string::npos) << logged;
    EXPECT_EQ(logged.find(kOwner), std::string::npos) << logged;
}

}  // namespace
