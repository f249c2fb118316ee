#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/crypto_support.h"
#include "crypto/hex.h"
#include "crypto/revocation_service.h"
#include "crypto/signing/byte_range.h"
#include "support/soft_token.h"

namespace {

using namespace cryptotest;
using qstest::fixture;
using qstest::run_shell;
using qstest::shell_quote;

int estimate(SigningConfig *config, int timestamp) {
    int n = -7;
    EXPECT_EQ(calculate_byte_range(config, timestamp, &n), 0) << message();
    return n;
}

TEST(PlaceholderSize, Pkcs12BaseExtraAndTimestamp) {
    Config config = pkcs12_config();
    EXPECT_EQ(estimate(config.get(), 0), 5000);
    EXPECT_EQ(estimate(config.get(), 1), 15000);
    set(config->extrarange, "250");
    EXPECT_EQ(estimate(config.get(), 0), 5300);
    EXPECT_EQ(estimate(config.get(), 1), 15300);
    set(config->usinggui, "true");
    EXPECT_EQ(estimate(config.get(), 1), 5250);
}

TEST(PlaceholderSize, OddCountIsRaisedToWholeBytes) {
    Config config = pkcs12_config();
    set(config->usinggui, "true");
    set(config->extrarange, "251");
    EXPECT_EQ(estimate(config.get(), 0), 5252);
}

TEST(PlaceholderSize, DeviceCountsItsPemFiles) {
    qstest::TempDir dir;
    qstest::write_file(dir.file("signer.pem"), std::string(1500, 'x'));
    qstest::write_file(dir.file("ca.pem"), std::string(3000, 'x'));
    Config config = pkcs12_config();
    set(config->certstore, "PKCS11 SECURITY DEVICE");
    set(config->signerpem, dir.file("signer.pem"));
    set(config->capem, dir.file("ca.pem"));
    EXPECT_EQ(estimate(config.get(), 0), 15800);
    set(config->capem, dir.file("missing.pem"));
    EXPECT_EQ(estimate(config.get(), 0), 8600);
    set(config->signerpem, dir.file("missing.pem"));
    int n = 0;
    message();
    EXPECT_EQ(calculate_byte_range(config.get(), 0, &n), -1);
    EXPECT_EQ(message(), "signerpem config entry points to missing file");
}

// The subjects of the certificates a DER SignedData carries, in its order.
std::vector<std::string> carried_subjects(const qstest::TempDir &dir, const std::string &der) {
    qstest::write_file(dir.file("carried.der"), der);
    std::istringstream printed(
        run_shell("openssl pkcs7 -inform DER -print_certs -noout -in " + shell_quote(dir.file("carried.der"))).out);
    std::vector<std::string> subjects;
    for (std::string line; std::getline(printed, line);)
        if (line.rfind("subject=", 0) == 0) subjects.push_back(line);
    return subjects;
}

long placeholder_digits(const std::string &pdf, const std::string &password) {
    FILE *f = std::fopen(pdf.c_str(), "rb");
    long range[4] = {0, 0, 0, 0};
    int object = 0;
    if (f && qpdf_get_byte_range(f, password.c_str(), range, &object) < 0) range[2] = range[1] = 0;
    if (f) std::fclose(f);
    return range[2] - range[1] - 2;
}

std::string two_phase(const std::vector<std::string> &args) {
    std::string command = shell_quote(QS_TWO_PHASE_TOOL);
    for (const auto &a : args) command += " " + shell_quote(a);
    const std::string out = run_shell(command + " 2>/dev/null").out;
    return out.substr(0, out.find('\n'));
}

// The three phases of a signature made elsewhere, sign_hash standing for the
// signing service: the status line of the last phase that ran.
std::string sign_in_two_phases(const std::string &in, const std::string &out, const std::string &conf) {
    const std::string digest = two_phase({"start", in, out, conf});
    if (digest.rfind("0#", 0) != 0) return digest;
    const std::string signature = two_phase({"hash", conf, digest.substr(2)});
    if (signature.rfind("0#", 0) != 0) return signature;
    return two_phase({"end", out, signature.substr(2)});
}

// Chains as certificate authorities issue them sign with default settings
// (no extrarange) on every route that signs: the placeholder has room for
// every certificate, the key's signature, the archived OCSP response (asked
// for once, before the placeholder is sized) and a timestamp. A chain file or
// store that repeats certificates signs too, each certificate carried once.
// A signature that fitted the earlier estimate keeps its size.
TEST(PlaceholderSize, RealChainsSignWithDefaultSettings) {
    cryptotest::RevocationService pki(true);
    qstest::TempDir dir;
    qstest::SoftToken token(dir);
    ASSERT_EQ(token.problem(), "");
    ASSERT_EQ(token.import_key(pki.file("rsa.key"), "chain-rsa", "03"), "");
    ASSERT_EQ(token.import_key(pki.file("signer.key"), "chain-ec", "04"), "");
    token.activate();
    char stored[600];
    encrypt_password(qstest::kStorePassword, stored);
    int confs = 0;
    // Each configuration has a cache of its own, so that its requests can be counted.
    const auto cache_of = [&dir](int n) {
        const std::string cache = dir.file("cache" + std::to_string(n));
        run_shell("mkdir -p " + shell_quote(cache));
        return "cachedir=" + cache + "\n";
    };
    const auto store = [&](const std::string &p12, const std::string &extra = "") {
        const std::string path = dir.file("store" + std::to_string(++confs) + ".conf");
        qstest::write_file(path, "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + p12 + "\ncertpasswd=" + stored +
                                     "\n" + cache_of(confs) + extra);
        return path;
    };
    const auto device = [&](const std::string &object, const std::string &signerpem, const std::string &capem) {
        ++confs;
        return token.write_config(dir, "device" + std::to_string(confs) + ".conf", "pkcs11:token=qs;object=" + object,
                                  signerpem, cache_of(confs), qstest::SoftToken::kPin, capem);
    };
    const std::string tsa = "tsaurl=" + pki.tsa_url() + "\n";
    enum class Route { OneShot, Encrypted, TwoPhase };
    const struct {
        const char *name;
        std::string conf;
        Route route;
        std::vector<std::string> flags;
        const char *responder;     // the OCSP responder asked once, whose response is archived; "" for none
        std::size_t certificates;  // in the signature, each once
        int placeholder;           // its digits where the earlier estimate holds, else 0
    } cases[] = {
        {"RSA chain", store(pki.file("rsa.p12")), Route::OneShot, {}, "/ocsp/rsainter", 3, 0},
        {"RSA chain, the store's CA list repeating certificates", store(pki.file("rsa-repeats.p12")), Route::OneShot,
         {}, "/ocsp/rsainter", 3, 0},
        {"RSA chain, timestamped", store(pki.file("rsa.p12"), tsa), Route::OneShot, {"-q"}, "/ocsp/rsainter", 3, 0},
        {"RSA chain, PAdES: nothing archived", store(pki.file("rsa.p12"), "subfilter=ETSI.CAdES.detached\n"),
         Route::OneShot, {}, "", 3, 0},
        {"RSA chain, signed and encrypted", store(pki.file("rsa.p12")), Route::Encrypted, {"-p", "open"},
         "/ocsp/rsainter", 3, 0},
        {"RSA chain, signed in two phases", store(pki.file("rsa.p12")), Route::TwoPhase, {}, "/ocsp/rsainter", 3, 0},
        {"EC chain", store(pki.file("signer.p12")), Route::OneShot, {}, "/ocsp/inter", 3, 0},
        {"EC chain, PAdES: nothing archived", store(pki.file("signer.p12"), "subfilter=ETSI.CAdES.detached\n"),
         Route::OneShot, {}, "", 3, 0},
        {"PKCS#11 RSA key, capem a full chain holding the signer",
         device("chain-rsa", pki.file("rsa.pem"), pki.file("rsa-fullchain.pem")), Route::OneShot, {},
         "/ocsp/rsainter", 3, 0},
        {"PKCS#11 EC key", device("chain-ec", pki.file("signer.pem"), pki.file("chain.pem")), Route::OneShot, {},
         "/ocsp/inter", 3, 0},
        {"a small chain keeps the earlier size", store(qstest::fixture("signer.p12")), Route::OneShot, {}, "", 2, 5000},
    };
    const std::string in = qstest::fixture("one-page.pdf");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.file("signed.pdf");
        std::remove(out.c_str());
        const int asked = c.responder[0] ? pki.requests_to(c.responder) : 0;
        std::string line;
        if (c.route == Route::TwoPhase) {
            line = sign_in_two_phases(in, out, c.conf);
        } else {
            std::vector<std::string> args = {"-i", in, "-o", out, "-z", c.conf};
            args.insert(args.end(), c.flags.begin(), c.flags.end());
            line = qstest::run_cli(args).out;
        }
        ASSERT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
        const std::string password = c.route == Route::Encrypted ? "open" : "";
        const std::string sig =
            run_shell("pdfsig -upw " + shell_quote(password) + " " + shell_quote(out) + " 2>&1").out;
        EXPECT_NE(sig.find("Signature is Valid."), std::string::npos) << sig;
        EXPECT_NE(sig.find("Total document signed"), std::string::npos) << sig;

        const std::string der = cryptotest::newest_signature_der(out, password);
        const std::vector<std::string> subjects = carried_subjects(dir, der);
        EXPECT_EQ(subjects.size(), c.certificates);
        EXPECT_EQ(std::set<std::string>(subjects.begin(), subjects.end()).size(), subjects.size());
        EXPECT_EQ(cryptotest::archived_ocsp_response(out, password).empty(), c.responder[0] == '\0');
        if (c.responder[0]) {
            EXPECT_EQ(pki.requests_to(c.responder) - asked, 1);
        }

        if (c.placeholder) {
            EXPECT_EQ(placeholder_digits(out, password), c.placeholder);
        }
    }
}

TEST(PlaceholderSize, ExtraRangeThatLeavesNoRoomIsRefused) {
    Config config = pkcs12_config();
    int n = 0;
    for (const char *extra : {"-5000", "-90000", "99999999999999999999"}) {
        set(config->extrarange, extra);
        EXPECT_EQ(calculate_byte_range(config.get(), 0, &n), -1) << extra;
        EXPECT_FALSE(message().empty());
    }
}

TEST(ExtraRangeAdvice, RoundsUpToHundreds) {
    struct Case { long excess; const char *value; } cases[] = {{1, "100"}, {90, "200"}, {2500, "3000"}, {1000, "1200"}};
    for (const auto &c : cases) {
        message();
        generate_extra_range_message(c.excess);
        EXPECT_EQ(message(), std::string("Byte range underestimated... add extrarange=") + c.value +
                                 " to config file (add to existing value).");
    }
}

TEST(HexText, ConvertBinToHexIsUppercase) {
    const unsigned char bytes[] = {0x00, 0x9f, 0xab, 0xff};
    long length = 0;
    char *hex = convertBinToHex(bytes, 4, &length);
    ASSERT_NE(hex, nullptr);
    EXPECT_STREQ(hex, "009FABFF");
    EXPECT_EQ(length, 8);
    std::free(hex);
    EXPECT_EQ(qs::lower_hex(bytes, 4), "009fabff");
}

// A file with a placeholder of n digits: prefix, "<", n zeros, ">", suffix.
struct Synthetic {
    std::string path, prefix, suffix;
    long a = 0, b = 0, c = 0;
    int n = 0;
};

Synthetic make_synthetic(const qstest::TempDir &dir, int n) {
    Synthetic s;
    s.path = dir.file("doc.bin");
    s.n = n;
    for (int i = 0; i < 3000; ++i) s.prefix += static_cast<char>('A' + i % 26);
    s.prefix += "/Contents ";
    s.suffix = " >> endobj\nthe rest of the document\n%%EOF\n";
    s.a = static_cast<long>(s.prefix.size());
    s.b = s.a + n + 2;
    s.c = static_cast<long>(s.suffix.size());
    qstest::write_file(s.path, s.prefix + "<" + std::string(static_cast<size_t>(n), '0') + ">" + s.suffix);
    return s;
}

int fill(SigningConfig *config, const Synthetic &s) {
    FILE *f = std::fopen(s.path.c_str(), "r+b");
    const int rc = update_contents(config, f, s.a, s.b, s.c, s.n, 0);
    std::fclose(f);
    return rc;
}

TEST(UpdateContents, SignatureOverTheTwoRangesVerifies) {
    qstest::TempDir dir;
    for (const char *hash : {"SHA1", "SHA256", "SHA512"}) {
        SCOPED_TRACE(hash);
        const Synthetic s = make_synthetic(dir, 5000);
        Config config = pkcs12_config("signer.p12", hash);
        ASSERT_EQ(fill(config.get(), s), 0) << message();
        const std::string after = qstest::read_file(s.path);
        ASSERT_EQ(after.size(), static_cast<size_t>(s.b + s.c));
        // Only the placeholder digits changed; the unused ones are still "0".
        EXPECT_EQ(after.substr(0, static_cast<size_t>(s.a) + 1), s.prefix + "<");
        EXPECT_EQ(after.substr(static_cast<size_t>(s.b) - 1), ">" + s.suffix);
        const std::string digits = after.substr(static_cast<size_t>(s.a) + 1, static_cast<size_t>(s.n));
        const size_t used = digits.find_last_not_of('0') + 1;
        EXPECT_LT(used, digits.size());
        const auto der = qs::parse_hex_pairs(digits);
        qstest::write_file(dir.file("sig.der"), std::string(der->begin(), der->end()));
        qstest::write_file(dir.file("ranges.bin"), s.prefix + s.suffix);
        const auto r = run_shell("openssl cms -verify -inform DER -binary -purpose any -CAfile " +
                                 shell_quote(fixture("ca.pem")) + " -in " + shell_quote(dir.file("sig.der")) +
                                 " -content " + shell_quote(dir.file("ranges.bin")) + " -out /dev/null 2>&1");
        EXPECT_EQ(r.status, 0) << r.out;
    }
}

// The one-shot driver reads the key store once and hands the material down:
// signing with it must not reach for the store again.
TEST(UpdateContents, MaterialLoadedOnceSignsWithoutTheStore) {
    qstest::TempDir dir;
    const Synthetic s = make_synthetic(dir, 5000);
    Config config = pkcs12_config();
    qs::SignatureInputs inputs;
    ASSERT_EQ(qs::load_signer_keys(config.get(), inputs.keys), 0) << message();
    set_certfile(config.get(), dir.file("gone.p12"));
    FILE *f = std::fopen(s.path.c_str(), "r+b");
    EXPECT_EQ(qs::fill_placeholder(config.get(), f, s.a, s.b, s.c, s.n, 0, &inputs), 0) << message();
    std::fclose(f);
    EXPECT_NE(qstest::read_file(s.path).substr(static_cast<size_t>(s.a) + 1, 4), "0000");
    EXPECT_EQ(fill(config.get(), make_synthetic(dir, 5000)), -1);
    EXPECT_NE(message().find("gone.p12"), std::string::npos);
}

TEST(UpdateContents, TooSmallPlaceholderGivesAdviceAndLeavesTheFile) {
    qstest::TempDir dir;
    const Synthetic s = make_synthetic(dir, 1000);
    const std::string before = qstest::read_file(s.path);
    Config config = pkcs12_config();
    message();
    EXPECT_EQ(fill(config.get(), s), -1);
    EXPECT_EQ(message().rfind("Byte range underestimated... add extrarange=", 0), 0u);
    EXPECT_EQ(qstest::read_file(s.path), before);
}

TEST(UpdateContents, OffsetsThatMissThePlaceholderAreRefused) {
    qstest::TempDir dir;
    Synthetic s = make_synthetic(dir, 5000);
    const std::string before = qstest::read_file(s.path);
    Config config = pkcs12_config();
    s.a += 1;
    s.b += 1;
    s.c -= 1;
    EXPECT_EQ(fill(config.get(), s), -1);
    s.a -= 1;
    s.b -= 1;
    s.c += 2;  // a range longer than the file
    EXPECT_EQ(fill(config.get(), s), -1);
    EXPECT_FALSE(message().empty());
    EXPECT_EQ(qstest::read_file(s.path), before);
}

TEST(SignatureText, FitsExactlyAndOneDigitMoreIsRefused) {
    qstest::TempDir dir;
    const Synthetic s = make_synthetic(dir, 100);
    FILE *f = std::fopen(s.path.c_str(), "r+b");
    message();
    EXPECT_EQ(qs::write_signature_text(f, s.a, s.b, std::string(101, 'e')), -1);
    EXPECT_EQ(message(), "Byte range underestimated... add extrarange=100 to config file (add to existing value).");
    EXPECT_EQ(qs::write_signature_text(f, s.a, s.b, std::string(100, 'e')), 0);
    std::fclose(f);
    EXPECT_EQ(qstest::read_file(s.path), s.prefix + "<" + std::string(100, 'e') + ">" + s.suffix);
}

TEST(Ranges, ExternalAndInternalBytes) {
    qstest::TempDir dir;
    const Synthetic s = make_synthetic(dir, 200);
    FILE *f = std::fopen(s.path.c_str(), "rb");
    unsigned char *outside = nullptr;
    long length = 0;
    ASSERT_EQ(get_external_range(f, s.a, s.b, s.c, &outside, &length), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(outside), static_cast<size_t>(length)), s.prefix + s.suffix);
    std::free(outside);
    char *inside = nullptr;
    ASSERT_EQ(get_internal_range(f, s.a, s.b, &inside, &length), 0);
    EXPECT_EQ(std::string(inside), std::string(200, '0'));
    EXPECT_EQ(length, 200);
    std::free(inside);
    EXPECT_EQ(get_external_range(f, s.a, s.b, s.c + 10, &outside, &length), -1);
    EXPECT_EQ(outside, nullptr);
    std::fclose(f);
    message();
}

// A document with three form fields: no value, a value without /ByteRange,
// and two signed values, of which the first in /Fields order must win.
std::string fields_pdf(const qstest::TempDir &dir) {
    const std::string src = dir.file("fields-src.pdf"), out = dir.file("fields.pdf");
    qstest::write_file(src,
                       "%PDF-1.7\n"
                       "1 0 obj << /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R 5 0 R 6 0 R 8 0 R] >> >> endobj\n"
                       "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
                       "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >> endobj\n"
                       "4 0 obj << /FT /Sig /T (empty) >> endobj\n"
                       "5 0 obj << /FT /Sig /T (unsigned) /V << /Type /Sig >> >> endobj\n"
                       "6 0 obj << /FT /Sig /T (first) /V 7 0 R >> endobj\n"
                       "7 0 obj << /Type /Sig /ByteRange [0 10 20 30] >> endobj\n"
                       "8 0 obj << /FT /Sig /T (second) /V 9 0 R >> endobj\n"
                       "9 0 obj << /Type /Sig /ByteRange [1 2 3 4] >> endobj\n"
                       "trailer << /Root 1 0 R /Size 10 >>\n%%EOF\n");
    run_shell("qpdf " + shell_quote(src) + " " + shell_quote(out) + " 2>/dev/null");
    return out;
}

TEST(SignatureLookup, FirstSignedFieldWins) {
    qstest::TempDir dir;
    FILE *f = std::fopen(fields_pdf(dir).c_str(), "rb");
    ASSERT_NE(f, nullptr);
    long range[4];
    int object = 0;
    ASSERT_EQ(qpdf_get_byte_range(f, "", range, &object), 0) << message();
    EXPECT_EQ(range[0], 0);
    EXPECT_EQ(range[1], 10);
    EXPECT_EQ(range[2], 20);
    EXPECT_EQ(range[3], 30);
    EXPECT_EQ(object, 7);
    std::fclose(f);
}

TEST(SignatureLookup, UnsignedAndUnreadableDocumentsFail) {
    long range[4] = {5, 5, 5, 5};
    int object = 0;
    FILE *plain = std::fopen(fixture("one-page.pdf").c_str(), "rb");
    message();
    EXPECT_EQ(qpdf_get_byte_range(plain, "", range, &object), -1);
    EXPECT_EQ(message(), "No signature found!");
    EXPECT_EQ(range[0], -1);
    std::fclose(plain);
    FILE *junk = std::fopen(fixture("signer.pem").c_str(), "rb");
    EXPECT_EQ(qpdf_get_byte_range(junk, "", range, &object), -1);
    EXPECT_FALSE(message().empty());
    std::fclose(junk);
}

}  // namespace
