// Updates appended to a signed document after its signature, checked through
// the program: every update that changes what was signed fails and names the
// change; the updates a signed document may receive (validation data, a
// further signature, new document information) still verify.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <openssl/evp.h>

#include "core/base/handles.h"
#include "crypto/changes/revision_changes.h"
#include "crypto/changes/verify_documents.h"
#include "crypto/crypto_support.h"
#include "pdf/qpdf_api.h"
#include "support/support.h"

namespace {

using qstest::fixture;
using qstest::shell_quote;

std::string ref(int number) { return std::to_string(number) + " 0 R"; }

std::string stream(const std::string &dictionary_entries, const std::string &data) {
    return "<< " + dictionary_entries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream";
}

// What the invoice holds beyond its text, logo and hidden overlay.
enum InvoiceKind {
    kPlain,
    kDangling,   // the page also lists a content stream (object 50) that the document lacks
    kLinkedInfo  // a link on the page takes the information dictionary as its action
};

std::string metadata(const std::string &date) {
    return stream("/Type /Metadata /Subtype /XML",
                  "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
                  "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
                  "xmlns:xmp='http://ns.adobe.com/xap/1.0/'><xmp:ModifyDate>" + date +
                      "</xmp:ModifyDate></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>");
}

// An invoice whose page shows its text and a logo, with an overlay the signed
// revision keeps hidden twice: drawn inside an optional-content group that is
// switched off, and as a stamp annotation flagged hidden. The catalog carries
// XMP metadata (object 12), as every document ghostscript writes does.
std::string invoice(InvoiceKind kind) {
    const std::string overlay = "BT /F1 24 Tf 72 720 Td (PAY 1,000,000 EUR) Tj ET";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R /Metadata 12 0 R "
        "/OCProperties << /OCGs [ 8 0 R ] /D << /OFF [ 8 0 R ] >> >> >>",
        "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 595 842 ] /Resources << /Font << /F1 5 0 R >> "
        "/XObject << /Logo 6 0 R /Ov 9 0 R >> /Properties << /oc1 8 0 R >> >> /Contents " +
            std::string(kind == kDangling ? "[ 4 0 R 50 0 R ]" : "4 0 R") + " /Annots [ 7 0 R" +
            (kind == kLinkedInfo ? " 13 0 R" : "") + " ] >>",
        stream("", "BT /F1 18 Tf 72 760 Td (Invoice 17: 100 EUR) Tj ET q /Logo Do Q "
                   "/OC /oc1 BDC q /Ov Do Q EMC"),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        stream("/Type /XObject /Subtype /Form /BBox [ 0 0 595 842 ]", "0 0 1 rg 72 680 20 20 re f"),
        "<< /Type /Annot /Subtype /Stamp /Rect [ 72 600 300 650 ] /F 2 /AP << /N 10 0 R >> >>",
        "<< /Type /OCG /Name (Overlay) >>",
        stream("/Type /XObject /Subtype /Form /BBox [ 0 0 595 842 ] /Resources << /Font << /F1 5 0 R >> >>",
               overlay),
        stream("/Type /XObject /Subtype /Form /BBox [ 0 0 228 50 ] /Resources << /Font << /F1 5 0 R >> >>",
               overlay),
        "<< /Producer (Invoicing 4.2) /Title (Invoice 17)" +
            std::string(kind == kLinkedInfo ? " /S /URI /URI (https://pay.example.com/17)" : "") + " >>",
        metadata("2025-01-01T00:00:00Z"),
    };
    if (kind == kLinkedInfo) objects.push_back("<< /Type /Annot /Subtype /Link /Rect [ 72 560 300 590 ] /A 11 0 R >>");
    return qstest::make_pdf(objects, "/Info 11 0 R");
}

using Entries = std::vector<std::pair<std::string, std::string>>;

// The text of a dictionary with entries set to values given as text.
std::string set_entries(QPDFObjectHandle object, const Entries &entries) {
    QPDFObjectHandle copy = object.isIndirect() ? object : object.shallowCopy();
    for (std::size_t i = 0; i < entries.size(); ++i)
        copy.replaceKey(entries[i].first, QPDFObjectHandle::newName("/QsValue" + std::to_string(i)));
    std::string text = copy.unparseResolved();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string mark = "/QsValue" + std::to_string(i);
        text.replace(text.find(mark), mark.size(), entries[i].second);
    }
    return text;
}

// A signed invoice with updates appended by hand, as other programs append
// them. Object texts are read back with qpdf and edited.
class Updates {
public:
    static constexpr int kCatalog = 1, kPages = 2, kPage = 3, kLogo = 6, kStamp = 7, kInfo = 11, kMetadata = 12;

    explicit Updates(std::string path) : path_(std::move(path)) {
        QPDF pdf;
        pdf.processFile(path_.c_str());
        size = pdf.getTrailer().getKey("/Size").getIntValueAsInt();
        field = pdf.getRoot().getKey("/AcroForm").getKey("/Fields").getArrayItem(0).getObjectID();
    }

    int add() { return size++; }

    // The text of an object with entries set.
    std::string with(int number, const Entries &entries) const {
        QPDF pdf;
        pdf.processFile(path_.c_str());
        return set_entries(pdf.getObjectByObjGen(QPDFObjGen(number, 0)), entries);
    }

    // The text of an object whose array entry gains a reference at its end;
    // with inside, the array sits in that dictionary entry of the object.
    std::string gaining(int number, const std::string &key, int item, const std::string &inside = "") const {
        QPDF pdf;
        pdf.processFile(path_.c_str());
        QPDFObjectHandle object = pdf.getObjectByObjGen(QPDFObjGen(number, 0));
        QPDFObjectHandle holder = inside.empty() ? object : object.getKey(inside);
        std::string array = holder.getKey(key).unparse();
        array = array.substr(0, array.rfind(']')) + ref(item) + " ]";
        if (inside.empty()) return set_entries(object, {{key, array}});
        return set_entries(object, {{inside, set_entries(holder, {{key, array}})}});
    }

    // The /Contents bytes of the signature in the first field.
    std::string signature_contents() const {
        QPDF pdf;
        pdf.processFile(path_.c_str());
        return pdf.getObjectByObjGen(QPDFObjGen(field, 0)).getKey("/V").getKey("/Contents").getStringValue();
    }

    // Appends one update with a classic cross-reference section; misplaced
    // moves its table's offsets off the objects they name.
    void append(std::vector<std::pair<int, std::string>> objects, int root = kCatalog, int misplaced = 0) {
        std::string bytes = qstest::read_file(path_);
        const long previous = std::stol(bytes.substr(bytes.rfind("startxref") + 9, 24));
        std::sort(objects.begin(), objects.end());
        std::string table = "xref\n";
        for (const auto &[number, body] : objects) {
            char entry[64];
            const std::size_t at = bytes.size() + static_cast<std::size_t>(misplaced);
            std::snprintf(entry, sizeof entry, "%d 1\n%010zu 00000 n\r\n", number, at);
            table += entry;
            bytes += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
        }
        const std::size_t table_at = bytes.size();
        bytes += table + "trailer\n<< /Size " + std::to_string(size) + " /Root " + ref(root) + " /Info " +
                 ref(kInfo) + " /Prev " + std::to_string(previous) + " >>\nstartxref\n" +
                 std::to_string(table_at) + "\n%%EOF\n";
        qstest::write_file(path_, bytes);
    }

    const std::string &path() const { return path_; }
    int field = 0;  // the signature field (and widget) of the signed revision
    int size = 0;   // the next free object number

private:
    std::string path_;
};

using Objects = std::vector<std::pair<int, std::string>>;

// The invoice's XMP metadata rewritten, as some signing programs rewrite it
// together with the document information.
Objects refreshed_metadata() { return {{Updates::kMetadata, metadata("2025-03-01T09:00:00Z")}}; }

// A second signature made the way other signing programs make one: its field
// last in /Fields and its widget last in /Annots, signed over its own ranges;
// with extra objects in the same update.
void add_second_signature(Updates &u, const Objects &extra = {}) {
    const int signature = u.add(), widget = u.add();
    const std::string zeros(8000, '0'), unset = "0000000000";
    Objects objects = {
        {signature, "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached /M (D:20250301090000Z) "
                    "/ByteRange [ 0 " + unset + " " + unset + " " + unset + " ] /Contents <" + zeros + "> >>"},
        {widget, "<< /Type /Annot /Subtype /Widget /FT /Sig /T (Approval) /F 132 /Rect [ 0 0 0 0 ] /P " +
                     ref(Updates::kPage) + " /V " + ref(signature) + " >>"},
        {Updates::kCatalog, u.gaining(Updates::kCatalog, "/Fields", widget, "/AcroForm")},
        {Updates::kPage, u.gaining(Updates::kPage, "/Annots", widget)},
        {Updates::kInfo, u.with(Updates::kInfo, {{"/ModDate", "(D:20250301090000Z)"}})},
    };
    objects.insert(objects.end(), extra.begin(), extra.end());
    u.append(objects);
    std::string bytes = qstest::read_file(u.path());
    const long a = static_cast<long>(bytes.rfind("/Contents <" + zeros)) + 10;
    const long b = a + static_cast<long>(zeros.size()) + 2;
    char range[64];
    std::snprintf(range, sizeof range, "0 %010ld %010ld %010ld", a, b, static_cast<long>(bytes.size()) - b);
    const std::string unset_range = "0 " + unset + " " + unset + " " + unset;
    bytes.replace(bytes.rfind(unset_range), unset_range.size(), range);
    const std::string der = qstest::openssl_cms(
        "-sign -signer " + shell_quote(fixture("ec-signer.pem")) + " -inkey " + shell_quote(fixture("ec-signer.key")),
        bytes.substr(0, static_cast<std::size_t>(a)) + bytes.substr(static_cast<std::size_t>(b)));
    const std::string hex = qstest::to_hex(der);
    bytes.replace(static_cast<std::size_t>(a + 1), hex.size(), hex);
    qstest::write_file(u.path(), bytes);
}

std::string der_certificate(const std::string &pem) {
    return qstest::run_shell("openssl x509 -outform DER -in " + shell_quote(fixture(pem))).out;
}

// The key of a signature's /VRI entry: the SHA-1 of its /Contents bytes in upper-case hex.
std::string validation_key(const std::string &contents) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(contents.data(), contents.size(), digest, &length, EVP_sha1(), nullptr);
    std::string hex = qstest::to_hex(std::string(reinterpret_cast<char *>(digest), length));
    for (char &ch : hex) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return hex;
}

// A Document Security Store added by hand: the two certificates of the
// chain, a /VRI entry for the signature, and the catalog gaining /DSS and
// /Extensions; with extra objects in the same update.
void add_security_store(Updates &u, const Objects &extra = {}) {
    const int signer = u.add(), root = u.add(), vri = u.add(), store = u.add();
    const std::string certs = "[ " + ref(signer) + " " + ref(root) + " ]";
    Objects objects = {
        {signer, stream("", der_certificate("signer.pem"))},
        {root, stream("", der_certificate("ca.pem"))},
        {vri, "<< /" + validation_key(u.signature_contents()) + " << /Cert " + certs + " >> >>"},
        {store, "<< /Certs " + certs + " /VRI " + ref(vri) + " >>"},
        {Updates::kCatalog,
         u.with(Updates::kCatalog,
                {{"/DSS", ref(store)}, {"/Extensions", "<< /ADBE << /BaseVersion /1.7 /ExtensionLevel 5 >> >>"}})},
    };
    objects.insert(objects.end(), extra.begin(), extra.end());
    u.append(objects);
}

std::pair<int, std::string> new_information(Updates &u, const std::string &producer = "(Archive 2.0)") {
    return {Updates::kInfo, u.with(Updates::kInfo, {{"/ModDate", "(D:20250302100000Z)"}, {"/Producer", producer}})};
}

void add_information(Updates &u, const std::string &producer = "(Archive 2.0)") {
    u.append({new_information(u, producer)});
}

void replace_content(Updates &u) {
    const int content = u.add();
    u.append({
        {content, stream("", "BT /F1 18 Tf 72 760 Td (Invoice 17: PAY 1,000,000 EUR) Tj ET")},
        {Updates::kPage, u.with(Updates::kPage, {{"/Contents", ref(content)}})},
    });
}

const std::string kVerified = "0#Document signature verified [Signer: Test Signer]\n";
// A later signature is the newest, wherever its field stands in /Fields: verify checks it,
// and the update that made it is judged against the first signature on its own.
const std::string kSecondVerified = "0#Document signature verified [Signer: EC Signer]\n";

std::string changed(const std::string &what) {
    return "-1#Document signature verification fails [The document was changed after it was signed: " + what + "]\n";
}

struct Case {
    const char *name;
    std::function<void(Updates &)> update;
    std::string expect;     // the status line, or its start
    InvoiceKind invoice = kPlain;
    bool damaged = false;  // the update's table is wrong
};

class LaterUpdates : public ::testing::Test {
protected:
    // The invoice, signed by the program.
    std::string signed_invoice(InvoiceKind kind) {
        const std::string plain = dir.file("invoice.pdf"), signed_path = dir.file("signed.pdf");
        qstest::write_file(plain, invoice(kind));
        const auto r = qstest::run_cli({"-i", plain, "-o", signed_path, "-z", conf});
        EXPECT_EQ(0u, r.out.rfind("0#Document signed", 0)) << r.out;
        return signed_path;
    }

    qstest::TempDir dir;
    std::string conf = cryptotest::write_conf(dir, "");
};

TEST_F(LaterUpdates, EachChangeToWhatWasSignedIsNamedAndAllowedUpdatesVerify) {
    const Case cases[] = {
        {"page content replaced", replace_content, changed("page 1 content")},
        {"logo rewritten in place",
         [](Updates &u) {
             u.append({{Updates::kLogo, stream("/Type /XObject /Subtype /Form /BBox [ 0 0 595 842 ]",
                                               "BT /F1 24 Tf 72 680 Td (PAID) Tj ET")}});
         },
         changed("page 1 resources")},
        {"hidden stamp shown",
         [](Updates &u) { u.append({{Updates::kStamp, u.with(Updates::kStamp, {{"/F", "4"}})}}); },
         changed("page 1 annotations")},
        {"hidden overlay layer switched on",
         [](Updates &u) {
             u.append({{Updates::kCatalog,
                        u.with(Updates::kCatalog,
                               {{"/OCProperties", "<< /OCGs [ 8 0 R ] /D << /ON [ 8 0 R ] >> >>"}})}});
         },
         changed("the document catalog entry /OCProperties")},
        {"missing content stream supplied",
         [](Updates &u) { u.append({{50, stream("", "BT /F1 24 Tf 72 720 Td (PAY 1,000,000 EUR) Tj ET")}}); },
         changed("page 1 content"), kDangling},
        {"annotation added",
         [](Updates &u) {
             const int note = u.add();
             u.append({
                 {note, "<< /Type /Annot /Subtype /FreeText /Rect [ 72 500 300 540 ] "
                        "/Contents (Approved: 1,000,000 EUR) /DA (/F1 12 Tf 0 g) >>"},
                 {Updates::kPage, u.gaining(Updates::kPage, "/Annots", note)},
             });
         },
         changed("page 1 annotations")},
        {"text field added to the form",
         [](Updates &u) {
             const int amount = u.add();
             u.append({
                 {amount, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (Amount) /V (1,000,000) "
                          "/Rect [ 72 500 300 540 ] /P 3 0 R >>"},
                 {Updates::kCatalog, u.gaining(Updates::kCatalog, "/Fields", amount, "/AcroForm")},
                 {Updates::kPage, u.gaining(Updates::kPage, "/Annots", amount)},
             });
         },
         changed("the form fields")},
        {"page appended",
         [](Updates &u) {
             const int page = u.add(), content = u.add();
             u.append({
                 {page, "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 595 842 ] "
                        "/Resources << /Font << /F1 5 0 R >> >> /Contents " + ref(content) + " >>"},
                 {content, stream("", "BT /F1 18 Tf 72 760 Td (Terms: payable at once) Tj ET")},
                 {Updates::kPages,
                  u.with(Updates::kPages, {{"/Kids", "[ 3 0 R " + ref(page) + " ]"}, {"/Count", "2"}})},
             });
         },
         changed("pages were added (2 instead of 1)")},
        {"trailer pointing at a new catalog",
         [](Updates &u) {
             const int catalog = u.add();
             u.append({{catalog, u.with(Updates::kCatalog, {{"/PageMode", "/UseOutlines"}})}}, catalog);
         },
         changed("the document catalog was replaced")},
        {"update whose table misses its object",
         [](Updates &u) {
             u.append({{Updates::kInfo, u.with(Updates::kInfo, {{"/Producer", "(Archive 2.0)"}})}},
                      Updates::kCatalog, 7);
         },
         "-1#Document signature verification fails [An update after the signature may be read differently by "
         "different readers: its cross-reference section places object 11 at offset ",
         kPlain, true},
        // Without its startxref the update is ignored by some readers and rebuilt by others.
        {"content replaced by an update without its end",
         [](Updates &u) {
             replace_content(u);
             std::string bytes = qstest::read_file(u.path());
             bytes.replace(bytes.rfind("startxref"), 9, "startxraf");
             qstest::write_file(u.path(), bytes);
         },
         "-1#Document signature verification fails [The updates after the signature cannot be compared with what "
         "it signed: the file ends in an incomplete update]\n",
         kPlain, true},
        {"information, then content replaced",
         [](Updates &u) {
             add_information(u);
             replace_content(u);
         },
         changed("page 1 content")},
        {"second signature", [](Updates &u) { add_second_signature(u); }, kSecondVerified},
        {"security store", [](Updates &u) { add_security_store(u); }, kVerified},
        {"metadata rewritten alone",
         [](Updates &u) { u.append(refreshed_metadata()); },
         changed("the document catalog entry /Metadata")},
        {"metadata refreshed with the document information",
         [](Updates &u) {
             Objects objects = refreshed_metadata();
             objects.push_back(new_information(u));
             u.append(objects);
         },
         kVerified},
        {"second signature with metadata", [](Updates &u) { add_second_signature(u, refreshed_metadata()); },
         kSecondVerified},
        {"security store with metadata and document information",
         [](Updates &u) {
             Objects extra = refreshed_metadata();
             extra.push_back(new_information(u));
             add_security_store(u, extra);
         },
         kVerified},
        {"document information that is also a link's action",
         [](Updates &u) {
             u.append({{Updates::kInfo, u.with(Updates::kInfo, {{"/URI", "(https://pay.example.net/17)"}})}});
         },
         changed("page 1 annotations"), kLinkedInfo},
        {"document information", [](Updates &u) { add_information(u); }, kVerified},
        {"security store, then document information",
         [](Updates &u) {
             add_security_store(u);
             add_information(u);
         },
         kVerified},
        // The end of this update is found past an "%%EOF" that is only text.
        {"document information holding a startxref line",
         [](Updates &u) {
             const std::size_t at = qstest::read_file(u.path()).size();
             add_information(u, "(Archive\nstartxref\n" + std::to_string(at) + "\n%%EOF\n)");
         },
         kVerified},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Updates updates(signed_invoice(c.invoice));
        const long signed_end = static_cast<long>(qstest::read_file(updates.path()).size());
        c.update(updates);
        const std::string quoted = shell_quote(updates.path());
        if (c.invoice != kDangling && !c.damaged) {
            const auto check = qstest::run_shell("qpdf --check " + quoted + " 2>&1");
            EXPECT_EQ(0, check.status) << check.out;
        }
        const auto r = qstest::run_cli({"verify", "-i", updates.path(), "-z", conf});
        EXPECT_EQ(0u, r.out.rfind(c.expect, 0)) << r.out;
        const bool verified = c.expect == kVerified || c.expect == kSecondVerified;
        EXPECT_EQ(verified ? 0 : 255, r.status);
        if (c.expect == kSecondVerified) {
            qs::FilePtr file = qs::open_file(updates.path().c_str(), "rb");
            const long size = static_cast<long>(qstest::read_file(updates.path()).size());
            const qs::LaterUpdates later = qs::judge_later_updates(file.get(), signed_end, size);
            EXPECT_EQ(qs::LaterUpdates::Outcome::Allowed, later.outcome) << later.reason;
        }
        if (verified) {
            // An outside verifier finds every signature of the allowed updates intact.
            const std::string sig = qstest::run_shell("pdfsig " + quoted + " 2>&1").out;
            const auto count = [&](const std::string &text) {
                std::size_t n = 0;
                for (std::size_t at = sig.find(text); at != std::string::npos; at = sig.find(text, at + 1)) ++n;
                return n;
            };
            EXPECT_EQ(count("Signature Validation:"), count("Signature is Valid")) << sig;
        }
    }
}

const std::string kAmbiguous =
    "-1#Document signature verification fails [An update after the signature may be read differently by different "
    "readers: ";

// The contract of tests/support/reader_attacks.py, signed by the program once
// with classic cross-reference tables and once with object and
// cross-reference streams, and updates appended to it that readers resolve
// otherwise than qpdf does or that change what they show: poppler shows the
// change (where it does; on the second form it cannot rebuild what it finds
// broken and keeps the signed text), and verification refuses each. An update
// that only gives the document information new text verifies in every form of
// cross-reference section.
TEST(ReaderAttacks, WhatAReaderWouldShowDifferentlyFailsAndInformationVerifiesInEverySectionForm) {
    constexpr unsigned kClassic = 1, kStreams = 2, kBoth = kClassic | kStreams;
    const struct {
        const char *update;
        const char *section[2];  // on the classic document, on the one with streams
        std::string expect;      // the status line, or its start
        unsigned shown;          // the documents on which poppler shows the change
    } cases[] = {
        {"information", {"table", "stream"}, kVerified, 0},
        {"information", {"hybrid", "compressed"}, kVerified, 0},
        {"unlisted-object", {"table", "stream"},
         kAmbiguous + "its cross-reference section lists object 99999999, but its /Size is ", kBoth},
        {"row-past-end", {"table", "stream"},
         kAmbiguous + "its cross-reference section places object 4 at offset 9999999999, outside the update]\n",
         kBoth},
        {"object-stream-twice", {"stream", "stream"}, kAmbiguous + "object stream ", kBoth},
        {"other-generation", {"table", "stream"},
         kAmbiguous + "object 4 is written with generation 1, but the revision before has it with generation 0]\n",
         kBoth},
        {"unsigned-signature-widget", {"table", "stream"}, changed("the form fields"), kBoth},
        {"deep-shadow", {"table", "stream"}, changed("page 1 resources"), kBoth},
        {"hidden-by-later-oc", {"table", "stream"}, changed("page 1 resources"), kBoth},
        {"unlisted-beside-listed", {"table", "stream"},
         kAmbiguous + "it holds \"obj\" at offset ", kClassic},
        {"object-in-stream-data", {"table", "stream"},
         kAmbiguous + "it holds \"obj\" at offset ", kClassic},
    };
    const std::string tool = "python3 " + shell_quote(std::string(QS_SOURCE_DIR) + "/tests/support/reader_attacks.py");
    const auto text_of = [](const std::string &path) {
        return qstest::run_shell("pdftotext " + shell_quote(path) + " - 2>/dev/null").out;
    };
    qstest::TempDir dir;
    const std::string conf = cryptotest::write_conf(dir, "");
    const char *const forms[] = {"table", "stream"};
    for (int form = 0; form < 2; ++form) {
        SCOPED_TRACE(forms[form]);
        const std::string plain = dir.file("contract.pdf"), signed_path = dir.file("signed.pdf");
        ASSERT_EQ(0, qstest::run_shell(tool + " contract " + forms[form] + " " + shell_quote(plain)).status);
        ASSERT_EQ(0u, qstest::run_cli({"-i", plain, "-o", signed_path, "-z", conf}).out.rfind("0#Document signed", 0));
        const std::string signed_text = text_of(signed_path);
        ASSERT_NE(std::string::npos, signed_text.find("100 EUR")) << signed_text;
        std::string updates = tool + " update";
        for (std::size_t i = 0; i < std::size(cases); ++i)
            updates += std::string(" ") + cases[i].update + " " + cases[i].section[form] + " " +
                       shell_quote(signed_path) + " " + shell_quote(dir.file(std::to_string(i) + ".pdf"));
        ASSERT_EQ(0, qstest::run_shell(updates).status);
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            const auto &c = cases[i];
            SCOPED_TRACE(std::string(c.update) + " in a section of the form " + c.section[form]);
            const std::string updated = dir.file(std::to_string(i) + ".pdf");
            const bool shown = (c.shown & (form == 0 ? kClassic : kStreams)) != 0;
            EXPECT_EQ(shown, text_of(updated) != signed_text) << text_of(updated);
            const auto r = qstest::run_cli({"verify", "-i", updated, "-z", conf});
            EXPECT_EQ(0u, r.out.rfind(c.expect, 0)) << r.out;
            EXPECT_EQ(c.expect == kVerified ? 0 : 255, r.status);
        }
    }
}

// The updates this program writes are themselves changes a later update may
// make: judged as if they followed a signature, they pass as a signature with
// new document information. A font the form's resources name already stays
// as it is, so an embedded font is never named again there.
TEST(OwnSignatureUpdates, AreChangesALaterUpdateMayMake) {
    const std::string helvetica = "sigrect=[50 50 250 100]\n", truetype = helvetica + "sigtext=Z\xc3\xbcrich %N\n";
    const struct {
        const char *name, *document, *first, *second;
        std::vector<std::string> flags;
        const char *expect;
    } cases[] = {
        {"invisible", "ten-pages.pdf", "", "", {}, ""},
        {"invisible, object streams", "objstm.pdf", "", "", {}, ""},
        {"visible, Helvetica named again", "ten-pages.pdf", helvetica.c_str(), helvetica.c_str(), {"-v"}, ""},
        {"visible on every page", "ten-pages.pdf", helvetica.c_str(), "sigrect=[50 50 250 100]\nsigpage=*\n", {"-v"},
         ""},
        {"visible, object streams", "objstm.pdf", helvetica.c_str(), helvetica.c_str(), {"-v"}, ""},
        {"visible, embedded font kept", "ten-pages.pdf", truetype.c_str(), truetype.c_str(), {"-v"}, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        qstest::TempDir dir;
        const std::string once = dir.file("once.pdf"), twice = dir.file("twice.pdf");
        std::vector<std::string> first = {"-i", fixture(c.document), "-o", once, "-z",
                                          qstest::write_signing_config(dir, "signer.p12", c.first, "1.conf")};
        std::vector<std::string> second = {"-i", once, "-o", twice, "-z",
                                           qstest::write_signing_config(dir, "signer.p12", c.second, "2.conf")};
        first.insert(first.end(), c.flags.begin(), c.flags.end());
        second.insert(second.end(), c.flags.begin(), c.flags.end());
        ASSERT_EQ(0, qstest::run_cli(first).status);
        ASSERT_EQ(0, qstest::run_cli(second).status);
        qs::FilePtr file = qs::open_file(twice.c_str(), "rb");
        const long signed_end = static_cast<long>(qstest::read_file(once).size());
        const long size = static_cast<long>(qstest::read_file(twice).size());
        const qs::LaterUpdates judged = qs::judge_later_updates(file.get(), signed_end, size);
        EXPECT_EQ(c.expect, judged.reason);
        if (judged.reason.empty()) {
            EXPECT_EQ(qs::LaterUpdates::Outcome::Allowed, judged.outcome);
            EXPECT_EQ(qs::kUpdateSignature | qs::kUpdateInformation, judged.kinds);
        }
    }
}

}  // namespace
