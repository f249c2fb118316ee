#include "crypto/changes/verify_documents.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "support/support.h"

namespace qstest {
namespace {

constexpr int kWidth = 10;

std::string padded(long value) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*ld", kWidth, value);
    return text;
}

const char *kRangeKey = "/ByteRange [";

}  // namespace

HandSigned placeholder_document(int digits) {
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R] /SigFlags 3 >> >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots [4 0 R] >>",
        "<< /Type /Annot /Subtype /Widget /FT /Sig /T (Signature1) /F 132 /Rect [0 0 0 0] "
        "/P 3 0 R /V 5 0 R >>",
        "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached /Contents <" +
            std::string(static_cast<std::size_t>(digits), '0') + "> " + kRangeKey + padded(0) +
            " " + padded(0) + " " + padded(0) + " " + padded(0) + "] /M (D:20240101120000Z) >>",
    };
    std::string file = make_pdf(objects);

    HandSigned doc;
    doc.bytes = file;
    doc.a = static_cast<long>(file.find("/Contents <") + 10);
    doc.b = doc.a + digits + 2;
    doc.c = static_cast<long>(file.size()) - doc.b;
    set_byte_range(doc, 0, doc.a, doc.b, doc.c);
    return doc;
}

void set_byte_range(HandSigned &doc, long first, long a, long b, long c) {
    const std::size_t at = doc.bytes.find(kRangeKey) + std::string(kRangeKey).size();
    const std::string text = padded(first) + " " + padded(a) + " " + padded(b) + " " + padded(c);
    doc.bytes.replace(at, text.size(), text);
}

std::string signed_bytes(const HandSigned &doc) {
    return doc.bytes.substr(0, static_cast<std::size_t>(doc.a)) +
           doc.bytes.substr(static_cast<std::size_t>(doc.b), static_cast<std::size_t>(doc.c));
}

void fill_contents(HandSigned &doc, const std::string &hex) {
    if (static_cast<long>(hex.size()) > doc.b - doc.a - 2) throw std::runtime_error("signature too long");
    doc.bytes.replace(static_cast<std::size_t>(doc.a + 1), hex.size(), hex);
}

std::string to_hex(const std::string &bytes) {
    static const char *digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char ch : bytes) {
        hex += digits[ch >> 4];
        hex += digits[ch & 15];
    }
    return hex;
}

std::string openssl_cms(const std::string &arguments, const std::string &data) {
    TempDir dir;
    write_file(dir.file("in.bin"), data);
    const RunResult r = run_shell("openssl cms " + arguments + " -binary -outform DER -in " +
                                  shell_quote(dir.file("in.bin")) + " -out " +
                                  shell_quote(dir.file("out.der")) + " 2>&1");
    if (r.status != 0) throw std::runtime_error("openssl cms failed: " + r.out);
    return read_file(dir.file("out.der"));
}

HandSigned signed_document(const std::string &signer, bool encapsulated) {
    HandSigned doc = placeholder_document();
    const std::string key = "-signer " + shell_quote(fixture(signer + ".pem")) + " -inkey " +
                            shell_quote(fixture(signer + ".key"));
    std::string der;
    if (encapsulated) {
        TempDir dir;
        write_file(dir.file("ranges.bin"), signed_bytes(doc));
        const RunResult sha1 = run_shell("openssl dgst -sha1 -binary " + shell_quote(dir.file("ranges.bin")));
        if (sha1.status != 0 || sha1.out.size() != 20) throw std::runtime_error("sha1 failed");
        der = openssl_cms("-sign -nodetach " + key, sha1.out);
    } else {
        der = openssl_cms("-sign " + key, signed_bytes(doc));
    }
    fill_contents(doc, to_hex(der));
    return doc;
}

}  // namespace qstest
