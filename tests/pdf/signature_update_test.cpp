// The signature field update end to end: the output is the input followed by
// the update, qpdf finds it clean, the new section lists exactly the objects
// written, and the placeholder and byte range are where they claim to be.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>
#include <set>

#include <quillseal/quillseal.h>

#include "pdf/qpdf_api.h"
#include "pdf/signature_update.h"
#include "pdf_test_util.h"

namespace {

using ConfigPtr = std::unique_ptr<SigningConfig, decltype(&free_config)>;

ConfigPtr test_config() {
    ConfigPtr config(init_config(nullptr), &free_config);
    std::strcpy(config->subfilter, "/adbe.pkcs7.detached");
    std::strcpy(config->sigrect, "[-170 -80 -40 -40]");
    std::strcpy(config->sigpage, "1");
    std::strcpy(config->appname, "Quillseal v2.7.1");
    std::strcpy(config->sigcontact, "signer@example.com");
    std::strcpy(config->sigdateformat, "%c");
    return config;
}

struct Options {
    int digits = 8192;
    int page = 1;
    int certify = 0;
    int visible = 0;
    const char *title = nullptr, *author = nullptr, *subject = nullptr, *keywords = nullptr;
    const char *password = "";
};

struct Signed {
    bool ok = false;
    std::string message;
    std::string input, update, output_path;
    long a = 0, c = 0;
};

std::string fetch_message() {
    char text[256] = "";
    handle_error_message(text, 0);
    return text;
}

// Empties the message slot, so that a later fetch shows only a new report.
void clear_message() {
    char empty[1] = "";
    handle_error_message(empty, 1);
    fetch_message();
}

Signed sign_file(const std::string &input, const std::string &output, const Options &o = {}) {
    Signed s;
    s.input = qstest::read_file(input);
    s.output_path = output;
    ConfigPtr config = test_config();
    pdftest::File in = pdftest::open_read(input);
    EXPECT_TRUE(in) << input;
    if (!in) return s;
    clear_message();
    long length = -1;
    char *update = qpdf_incremental_update(config.get(), in.get(), o.password, &length, o.title, o.author,
                                           o.subject, o.keywords, &s.a, &s.c, o.digits, o.visible,
                                           o.certify, "Approval", "Berlin", "Test Signer", o.page,
                                           "0A1B2C", 0, 0, 0, nullptr, nullptr, 0);
    s.message = fetch_message();
    if (!update) return s;
    s.ok = true;
    s.update.assign(update, static_cast<std::size_t>(length));
    std::free(update);
    qstest::write_file(output, s.input + s.update);
    return s;
}

std::string qpdf_check(const std::string &path) {
    const qstest::RunResult r = qstest::run_shell("qpdf --check " + qstest::shell_quote(path) + " 2>&1");
    return r.status == 0 ? std::string() : "qpdf --check failed (" + std::to_string(r.status) + "):\n" + r.out;
}

std::set<int> written_objects(const std::string &update) {
    std::set<int> numbers;
    static const std::regex header("\n([0-9]+) [0-9]+ obj\n");
    for (std::sregex_iterator it(update.begin(), update.end(), header), end; it != end; ++it)
        numbers.insert(std::stoi((*it)[1]));
    return numbers;
}

// The objects the update's own cross-reference section lists.
std::set<int> listed_objects(const std::string &update) {
    std::set<int> numbers;
    const std::size_t table = update.find("\nxref\n");
    if (table != std::string::npos) {
        std::size_t at = table + 6;
        EXPECT_EQ(update.compare(at, 24, "0 1\n0000000000 65535 f\r\n"), 0);
        at += 24;
        while (update.compare(at, 8, "trailer\n") != 0) {
            const std::size_t eol = update.find('\n', at);
            int first = 0, count = 0;
            EXPECT_EQ(std::sscanf(update.substr(at, eol - at).c_str(), "%d %d", &first, &count), 2);
            at = eol + 1;
            for (int i = 0; i < count; ++i, at += 20) {
                EXPECT_EQ(update.compare(at + 10, 10, " 00000 n\r\n"), 0);
                numbers.insert(first + i);
            }
            if (count <= 0) break;
        }
        return numbers;
    }
    const std::size_t index = update.rfind("/Index [ ");
    EXPECT_NE(index, std::string::npos);
    std::string items = update.substr(index + 9, update.find(']', index) - index - 9);
    std::istringstream words(items);
    int first = 0, count = 0;
    while (words >> first >> count)
        for (int i = 0; i < count; ++i) numbers.insert(first + i);
    return numbers;
}

// The checks every produced document must pass.
void expect_sound(const Signed &s, int digits = 8192) {
    ASSERT_TRUE(s.ok) << s.message;
    const std::string out = qstest::read_file(s.output_path);
    ASSERT_EQ(out.size(), s.input.size() + s.update.size());
    EXPECT_EQ(out.compare(0, s.input.size(), s.input), 0) << "the input bytes must stay unchanged";
    const long b = s.a + digits + 2;
    ASSERT_EQ(b + s.c, static_cast<long>(out.size()));
    EXPECT_EQ(out.substr(static_cast<std::size_t>(s.a), static_cast<std::size_t>(digits) + 2),
              "<" + std::string(static_cast<std::size_t>(digits), '0') + ">");
    std::string c_text = std::to_string(s.c);
    if (c_text.size() < 5) c_text.resize(5, ' ');
    const std::string range = "/ByteRange [ 0 " + std::to_string(s.a) + " " + std::to_string(b) + " " + c_text + " ]";
    EXPECT_NE(s.update.find(range + " /ContactInfo (signer@example.com) /Contents <"), std::string::npos) << range;
    EXPECT_EQ(s.update.compare(0, 2, "\r\n"), 0);
    EXPECT_EQ(s.update.find("_0_R"), std::string::npos);
    EXPECT_EQ(s.update.find("_XXX_"), std::string::npos);
    EXPECT_EQ(written_objects(s.update), listed_objects(s.update));
    EXPECT_EQ(qpdf_check(s.output_path), "");
}

struct Opened {
    QPDF pdf;
    explicit Opened(const std::string &path) { pdf.processFile(path.c_str()); }
    QPDFObjectHandle page(std::size_t i) { return QPDFObjectHandle(pdf.getAllPages().at(i)); }
    QPDFObjectHandle first_field() { return pdf.getRoot().getKey("/AcroForm").getKey("/Fields").getArrayItem(0); }
};

TEST(SignatureUpdate, EveryGeneratedDocumentGetsASoundUpdate) {
    for (const char *name : {"one-page.pdf", "ten-pages.pdf", "objstm.pdf", "linearized.pdf", "classic.pdf",
                             "noinfo.pdf", "eof-bare.pdf", "eof-crlf.pdf", "eof-cr.pdf", "eof-trailing.pdf"}) {
        SCOPED_TRACE(name);
        qstest::TempDir dir;
        const Signed s = sign_file(qstest::fixture(name), dir.file("out.pdf"));
        expect_sound(s);
        Opened doc(s.output_path);
        QPDFObjectHandle field = doc.first_field();
        EXPECT_EQ(field.getKey("/FT").getName(), "/Sig");
        EXPECT_EQ(field.getKey("/T").getStringValue(), "Signature with certificate 0A1B2C");
        EXPECT_EQ(field.getKey("/F").getIntValue(), 132);
        EXPECT_EQ(field.getKey("/Rect").unparse(), "[ 0 0 0 0 ]");
        EXPECT_FALSE(field.hasKey("/AP"));
        QPDFObjectHandle sig = field.getKey("/V");
        EXPECT_EQ(sig.getKey("/ByteRange").getArrayItem(1).getIntValue(), s.a);
        EXPECT_EQ(sig.getKey("/SubFilter").getName(), "/adbe.pkcs7.detached");
        EXPECT_EQ(sig.getKey("/Prop_Build").unparseResolved(),
                  "<< /App << /Name /Quillseal#20v2.7.1 /OS [ /Linux ] >> >>");
        EXPECT_EQ(doc.pdf.getRoot().getKey("/AcroForm").getKey("/SigFlags").getIntValue(), 3);
        EXPECT_EQ(doc.pdf.getRoot().getKey("/Quillseal").getStringValue(), "v2.7.1");
        EXPECT_EQ(doc.page(0).getKey("/Annots").getArrayItem(0).getObjGen(), field.getObjGen());
        EXPECT_EQ(sig.getKey("/M").getStringValue(), doc.pdf.getTrailer().getKey("/Info").getKey("/ModDate").getStringValue());
    }
}

// Signs the byte ranges with openssl, writes the hex text after the "<" and asks pdfsig.
std::string pdfsig_after_signing(const Signed &s) {
    const std::string f = qstest::shell_quote(s.output_path);
    const std::string dir = qstest::shell_quote(s.output_path + ".d");
    const std::string script =
        "set -e; mkdir -p " + dir + "; cd " + dir + "; { head -c " + std::to_string(s.a) + " " + f +
        "; tail -c " + std::to_string(s.c) + " " + f + "; } > ranges; openssl cms -sign -binary -in ranges -signer " +
        qstest::shell_quote(qstest::fixture("signer.pem")) + " -inkey " + qstest::shell_quote(qstest::fixture("signer.key")) +
        " -outform DER -md sha256 -out sig.der; od -An -v -tx1 sig.der | tr -d ' \n' > sig.hex; dd if=sig.hex of=" + f +
        " bs=1 seek=" + std::to_string(s.a + 1) + " conv=notrunc status=none; pdfsig " + f + " 2>&1";
    return qstest::run_shell(script).out;
}

TEST(SignatureUpdate, SignedRangesVerifyInAnIndependentReader) {
    qstest::TempDir dir;
    for (const char *name : {"one-page.pdf", "objstm.pdf", "eof-trailing.pdf"}) {
        const Signed s = sign_file(qstest::fixture(name), dir.file(std::string("signed-") + name));
        ASSERT_TRUE(s.ok) << s.message;
        const std::string report = pdfsig_after_signing(s);
        EXPECT_NE(report.find("Signature is Valid."), std::string::npos) << name << "\n" << report;
        EXPECT_NE(report.find("Total document signed"), std::string::npos) << name << "\n" << report;
    }
}

TEST(SignatureUpdate, ClassicAndStreamTrailersAreSortedAndPointBack) {
    qstest::TempDir dir;
    Signed s = sign_file(qstest::fixture("classic.pdf"), dir.file("classic.pdf"));
    expect_sound(s);
    long at = 0, prev = 0;
    pdftest::File in = pdftest::open_read(qstest::fixture("classic.pdf"));
    ASSERT_EQ(read_xref_offset(in.get(), &at, &prev), 0);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(s.update, m, std::regex(
        "trailer\n<< /ID \\[ <[0-9a-f]{32}> <[0-9a-f]{32}> \\] /Info ([0-9]+) 0 R /Prev ([0-9]+) "
        "/Root ([0-9]+) 0 R /Size ([0-9]+) >>\nstartxref\n([0-9]+)\n%%EOF\n$")));
    EXPECT_EQ(std::stol(m[2]), prev);
    EXPECT_EQ(s.update.compare(std::stoul(m[5]) - s.input.size(), 5, "xref\n"), 0);

    s = sign_file(qstest::fixture("objstm.pdf"), dir.file("stream.pdf"));
    expect_sound(s);
    ASSERT_TRUE(std::regex_search(s.update, m, std::regex(
        "\n([0-9]+) 0 obj\n<< /ID \\[ <[0-9a-f]{32}> <[0-9a-f]{32}> \\] /Index \\[ [0-9 ]+\\] /Info [0-9]+ 0 R "
        "/Length ([0-9]+) /Prev [0-9]+ /Root [0-9]+ 0 R /Size ([0-9]+) /Type /XRef /W \\[ 1 4 1 \\] >>\n"
        "stream\n")));
    const std::size_t stream_obj = static_cast<std::size_t>(m.position(0)) + 1;
    const std::size_t entries = stream_obj + m.length(0) - 1;
    const int listed = static_cast<int>(listed_objects(s.update).size());
    EXPECT_EQ(std::stoi(m[2]), 6 * listed);
    EXPECT_EQ(std::stoi(m[3]), std::stoi(m[1]) + 1);
    // The stream's own entry, the last one, points at its object header.
    const std::string own = s.update.substr(entries + 6 * static_cast<std::size_t>(listed - 1), 6);
    const long offset = (static_cast<unsigned char>(own[1]) << 24) | (static_cast<unsigned char>(own[2]) << 16) |
                        (static_cast<unsigned char>(own[3]) << 8) | static_cast<unsigned char>(own[4]);
    EXPECT_EQ(offset, static_cast<long>(s.input.size() + stream_obj));
    EXPECT_NE(s.update.find("\nendstream\nendobj\nstartxref\n" + std::to_string(offset) + "\n%%EOF\n"),
              std::string::npos);
}

TEST(SignatureUpdate, InformationDictionaryAndIdentifier) {
    qstest::TempDir dir;
    Options o;
    o.title = "Quarterly report";
    o.author = "Ann (Finance)";
    o.subject = "";
    o.keywords = "q3, report";
    const Signed s = sign_file(qstest::fixture("noinfo.pdf"), dir.file("a.pdf"), o);
    expect_sound(s);
    Opened doc(s.output_path);
    QPDFObjectHandle trailer = doc.pdf.getTrailer();
    QPDFObjectHandle info = trailer.getKey("/Info");
    EXPECT_EQ(info.getKey("/Producer").getStringValue(), "Unknown; signed with Quillseal v2.7.1");
    EXPECT_EQ(info.getKey("/Title").getStringValue(), "Quarterly report");
    EXPECT_EQ(info.getKey("/Author").getStringValue(), "Ann (Finance)");
    EXPECT_FALSE(info.hasKey("/Subject"));
    EXPECT_EQ(info.getKey("/Keywords").getStringValue(), "q3, report");
    EXPECT_TRUE(std::regex_match(info.getKey("/ModDate").getStringValue(),
                                 std::regex("D:[0-9]{14}([+-][0-9]{2}'[0-9]{2}'|Z)")));
    // The new dictionary took the old /Size; the signature and widget follow it.
    Opened old(qstest::fixture("noinfo.pdf"));
    const int size = static_cast<int>(old.pdf.getTrailer().getKey("/Size").getIntValue());
    EXPECT_EQ(info.getObjectID(), size);
    EXPECT_EQ(trailer.getKey("/Size").getIntValue(), size + 3);
    EXPECT_EQ(doc.first_field().getObjectID(), size + 2);
}

TEST(SignatureUpdate, WithoutAnOldIdentifierBothAreTheDigest) {
    qstest::TempDir dir;
    qstest::write_file(dir.file("in.pdf"), pdftest::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                                                              "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                                              "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"}));
    const Signed s = sign_file(dir.file("in.pdf"), dir.file("out.pdf"));
    expect_sound(s);
    Opened doc(s.output_path);
    QPDFObjectHandle id = doc.pdf.getTrailer().getKey("/ID");
    EXPECT_EQ(id.getArrayItem(0).getStringValue(), id.getArrayItem(1).getStringValue());
    // The digest is that of the information object's dictionary text.
    const std::size_t start = s.update.find("4 0 obj\n") + 8;
    const std::string info_text = s.update.substr(start, s.update.find("\nendobj\n", start) - start);
    unsigned char digest[16];
    compute_md5(reinterpret_cast<const unsigned char *>(info_text.data()), info_text.size(), digest);
    EXPECT_EQ(id.getArrayItem(1).getStringValue(), std::string(reinterpret_cast<char *>(digest), 16));
}

TEST(SignatureUpdate, NewInformationInStreamFormIsReferencedFromTheStream) {
    qstest::TempDir dir;
    qstest::write_file(dir.file("src.pdf"), pdftest::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                                                               "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"}));
    ASSERT_EQ(qstest::run_shell("qpdf --object-streams=generate " + qstest::shell_quote(dir.file("src.pdf")) + " " +
                                qstest::shell_quote(dir.file("in.pdf"))).status, 0);
    const Signed s = sign_file(dir.file("in.pdf"), dir.file("out.pdf"));
    expect_sound(s);
    Opened doc(s.output_path);
    QPDFObjectHandle info = doc.pdf.getTrailer().getKey("/Info");
    ASSERT_TRUE(info.isIndirect());
    EXPECT_EQ(info.getKey("/Producer").getStringValue(), "Unknown; signed with Quillseal v2.7.1");
    EXPECT_NE(s.update.find("/Info " + std::to_string(info.getObjectID()) + " 0 R /Length"), std::string::npos);
}

TEST(SignatureUpdate, ProducerSuffixAndOldIdentifierAreKept) {
    qstest::TempDir dir;
    const std::string utf16 = "<FEFF00470053>";  // "GS" in UTF-16BE
    const std::string pdf = pdftest::make_pdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>", "<< /Producer " + utf16 + " >>"},
        "/Info 4 0 R /ID [<00112233445566778899aabbccddeeff> <00112233445566778899aabbccddeeff>]");
    qstest::write_file(dir.file("in.pdf"), pdf);
    const Signed s = sign_file(dir.file("in.pdf"), dir.file("out.pdf"));
    expect_sound(s);
    Opened doc(s.output_path);
    std::string expected("\xfe\xff\0G\0S", 6);
    for (char ch : std::string("; signed with Quillseal v2.7.1")) expected += std::string(1, '\0') + ch;
    QPDFObjectHandle info = doc.pdf.getTrailer().getKey("/Info");
    EXPECT_EQ(info.getObjectID(), 4);
    EXPECT_EQ(info.getKey("/Producer").getStringValue(), expected);
    QPDFObjectHandle id = doc.pdf.getTrailer().getKey("/ID");
    EXPECT_EQ(id.getArrayItem(0).getStringValue(), std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff", 16));
    EXPECT_NE(id.getArrayItem(1).getStringValue(), id.getArrayItem(0).getStringValue());
}

TEST(SignatureUpdate, PageChoiceGoesToTheRightPage) {
    const std::pair<int, int> cases[] = {{0, 1}, {1, 1}, {4, 4}, {25, 10}, {-1, 10}, {-10, 1}, {-11, 1}, {-123456, 1}};
    for (const auto &[page, expected] : cases) {
        SCOPED_TRACE(page);
        qstest::TempDir dir;
        Options o;
        o.page = page;
        const Signed s = sign_file(qstest::fixture("ten-pages.pdf"), dir.file("out.pdf"), o);
        ASSERT_TRUE(s.ok) << s.message;
        Opened doc(s.output_path);
        for (std::size_t i = 0; i < 10; ++i)
            EXPECT_EQ(doc.page(i).hasKey("/Annots"), static_cast<int>(i) + 1 == expected) << "page " << i + 1;
        EXPECT_EQ(doc.first_field().getKey("/P").getObjGen(), doc.page(static_cast<std::size_t>(expected - 1)).getObjGen());
        if (page == -123456) {
            EXPECT_EQ(written_objects(s.update).size(), 5u);  // info, signature, widget, catalog, page
        }
    }
}

TEST(SignatureUpdate, SecondSignatureGoesFirstAndCertificationIsHonoured) {
    qstest::TempDir dir;
    const Signed first = sign_file(qstest::fixture("one-page.pdf"), dir.file("first.pdf"));
    expect_sound(first);
    const Signed second = sign_file(dir.file("first.pdf"), dir.file("second.pdf"));
    expect_sound(second);
    Opened doc(second.output_path);
    QPDFObjectHandle fields = doc.pdf.getRoot().getKey("/AcroForm").getKey("/Fields");
    ASSERT_EQ(fields.getArrayNItems(), 2);
    EXPECT_EQ(fields.getArrayItem(0).getKey("/V").getKey("/ByteRange").getArrayItem(1).getIntValue(), second.a);
    EXPECT_EQ(fields.getArrayItem(1).getKey("/V").getKey("/ByteRange").getArrayItem(1).getIntValue(), first.a);
    EXPECT_EQ(doc.page(0).getKey("/Annots").getArrayNItems(), 2);

    Options certify;
    certify.certify = 1;
    const Signed certified = sign_file(dir.file("second.pdf"), dir.file("certified.pdf"), certify);
    expect_sound(certified);
    Opened c(certified.output_path);
    QPDFObjectHandle sig = c.first_field().getKey("/V");
    QPDFObjectHandle reference = sig.getKey("/Reference").getArrayItem(0);
    EXPECT_EQ(reference.unparseResolved(),
              "<< /Data " + c.pdf.getRoot().getObjGen().unparse(' ') + " R /TransformMethod /DocMDP "
              "/TransformParams << /P 1 /Type /TransformParams /V /1.2 >> /Type /SigRef >>");
    EXPECT_EQ(c.pdf.getRoot().getKey("/Perms").getKey("/DocMDP").getObjGen(), sig.getObjGen());

    // The certified output itself cannot be signed again.
    const Signed refused = sign_file(dir.file("certified.pdf"), dir.file("refused.pdf"));
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message,
              "The input PDF is already (signed and) certified and cannot be signed again without "
              "invalidating the certified signature!");
}

TEST(SignatureUpdate, DocMdpWithOtherPermissionsIsSignedAndP1OnTheDictionaryIsRefused) {
    qstest::TempDir dir;
    const auto with_perms = [](const std::string &perms) {
        return pdftest::make_pdf({"<< /Type /Catalog /Pages 2 0 R /Perms << /DocMDP 4 0 R >> >>",
                                  "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>", perms});
    };
    qstest::write_file(dir.file("p2.pdf"), with_perms("<< /Type /Sig /TransformParams << /P 2 >> >>"));
    expect_sound(sign_file(dir.file("p2.pdf"), dir.file("p2-out.pdf")));
    qstest::write_file(dir.file("p1.pdf"), with_perms("<< /Type /Sig /TransformParams << /P 1 >> >>"));
    EXPECT_FALSE(sign_file(dir.file("p1.pdf"), dir.file("p1-out.pdf")).ok);
}

TEST(SignatureUpdate, IndirectFormPartsAreWrittenSoTheFieldIsListed) {
    qstest::TempDir dir;
    const std::string pdf = pdftest::make_pdf(
        {"<< /Type /Catalog /Pages 2 0 R /AcroForm 4 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots 6 0 R >>",
         "<< /Fields 5 0 R /DA (/Helv 0 Tf 0 g) >>", "[ ]", "[ ]"});
    qstest::write_file(dir.file("in.pdf"), pdf);
    const Signed s = sign_file(dir.file("in.pdf"), dir.file("out.pdf"));
    expect_sound(s);
    // New: information 7, signature 8, widget 9; rewritten: catalog 1, page 3, /Fields 5.
    EXPECT_EQ(written_objects(s.update), (std::set<int>{1, 3, 5, 7, 8, 9}));
    Opened doc(s.output_path);
    QPDFObjectHandle form = doc.pdf.getRoot().getKey("/AcroForm");
    EXPECT_FALSE(form.isIndirect());
    EXPECT_EQ(form.getKey("/DA").getStringValue(), "/Helv 0 Tf 0 g");
    EXPECT_EQ(form.getKey("/Fields").getObjectID(), 5);
    EXPECT_EQ(form.getKey("/Fields").getArrayItem(0).getObjectID(), 9);
    QPDFObjectHandle annots = doc.page(0).getKey("/Annots");
    EXPECT_FALSE(annots.isIndirect());
    EXPECT_EQ(annots.getArrayItem(0).getObjectID(), 9);
}

TEST(SignatureUpdate, RewrittenObjectsKeepTheirGeneration) {
    qstest::TempDir dir;
    std::string pdf = pdftest::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 1 R] /Count 1 >>",
                                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"});
    pdf.replace(pdf.find("3 0 obj"), 7, "3 1 obj");
    const std::size_t third = pdf.find(" 00000 n\r\n", pdf.find(" 00000 n\r\n", pdf.find(" 00000 n\r\n") + 1) + 1);
    pdf.replace(third, 6, " 00001");
    qstest::write_file(dir.file("in.pdf"), pdf);
    const Signed s = sign_file(dir.file("in.pdf"), dir.file("out.pdf"));
    ASSERT_TRUE(s.ok) << s.message;
    EXPECT_NE(s.update.find("\n3 1 obj\n"), std::string::npos);
    EXPECT_NE(s.update.find(" 00001 n\r\n"), std::string::npos);
    EXPECT_NE(s.update.find("/P 3 1 R"), std::string::npos);
    EXPECT_EQ(qpdf_check(s.output_path), "");
    Opened doc(s.output_path);
    EXPECT_TRUE(doc.page(0).hasKey("/Annots"));
}

TEST(SignatureUpdate, InformationHeldInTheTrailerBecomesAnObject) {
    qstest::TempDir dir;
    const std::string pdf = pdftest::make_pdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"},
        "/Info << /Producer (Hand) /Creator (Editor) >>");
    qstest::write_file(dir.file("in.pdf"), pdf);
    const Signed s = sign_file(dir.file("in.pdf"), dir.file("out.pdf"));
    expect_sound(s);
    Opened doc(s.output_path);
    QPDFObjectHandle info = doc.pdf.getTrailer().getKey("/Info");
    EXPECT_TRUE(info.isIndirect());
    EXPECT_EQ(info.getObjectID(), 4);
    EXPECT_EQ(info.getKey("/Creator").getStringValue(), "Editor");
    EXPECT_EQ(info.getKey("/Producer").getStringValue(), "Hand; signed with Quillseal v2.7.1");
}

TEST(SignatureUpdate, LongTailWidensTheByteRangePlaceholder) {
    qstest::TempDir dir;
    std::string big = "[";
    for (int i = 0; i < 30000; ++i) big += " " + std::to_string(i);
    big += " ]";
    const std::string pdf = pdftest::make_pdf(
        {"<< /Type /Catalog /Pages 2 0 R /PieceInfo << /Big << /Private " + big + " >> >> >>",
         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"});
    qstest::write_file(dir.file("in.pdf"), pdf);
    const Signed s = sign_file(dir.file("in.pdf"), dir.file("out.pdf"));
    expect_sound(s);
    EXPECT_GE(s.c, 100000);
    {
        Opened doc(s.output_path);
        EXPECT_EQ(doc.first_field().getKey("/V").getKey("/ByteRange").getArrayItem(3).getIntValue(), s.c);
    }
    EXPECT_NE(pdfsig_after_signing(s).find("Signature is Valid."), std::string::npos);
}

TEST(SignatureUpdate, OddDigitCountIsRaisedToEven) {
    qstest::TempDir dir;
    Options o;
    o.digits = 5251;
    const Signed s = sign_file(qstest::fixture("one-page.pdf"), dir.file("out.pdf"), o);
    expect_sound(s, 5252);
}

TEST(SignatureUpdate, RefusalsEndWithAMessageAndNoBuffer) {
    qstest::TempDir dir;
    qs::SignatureRequest no_config;
    qs::SignatureUpdate nothing;
    pdftest::File in = pdftest::open_read(qstest::fixture("one-page.pdf"));
    clear_message();
    EXPECT_FALSE(qs::build_signature_update(in.get(), no_config, nothing));
    EXPECT_NE(fetch_message(), "");

    Options no_room;
    no_room.digits = 0;
    EXPECT_FALSE(sign_file(qstest::fixture("one-page.pdf"), dir.file("n.pdf"), no_room).ok);
    no_room.digits = 2147483647;
    EXPECT_FALSE(sign_file(qstest::fixture("one-page.pdf"), dir.file("n.pdf"), no_room).ok);
    // A /Size beyond the int object numbers would wrap the new numbers around.
    std::string huge = pdftest::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"});
    huge.replace(huge.find("/Size 4 "), 8, "/Size 2147483647 ");
    qstest::write_file(dir.file("huge.pdf"), huge);
    Signed s = sign_file(dir.file("huge.pdf"), dir.file("h.pdf"));
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.message, "The input PDF's trailer /Size is out of range.");

    ASSERT_EQ(qstest::run_shell("qpdf --encrypt '' owner 256 -- " + qstest::shell_quote(qstest::fixture("one-page.pdf")) +
                                " " + qstest::shell_quote(dir.file("enc.pdf"))).status, 0);
    s = sign_file(dir.file("enc.pdf"), dir.file("e.pdf"));
    EXPECT_FALSE(s.ok);
    EXPECT_NE(s.message.find("Encrypted input"), std::string::npos) << s.message;
    ASSERT_EQ(qstest::run_shell("qpdf --encrypt user owner 256 -- " + qstest::shell_quote(qstest::fixture("one-page.pdf")) +
                                " " + qstest::shell_quote(dir.file("pw.pdf"))).status, 0);
    s = sign_file(dir.file("pw.pdf"), dir.file("p.pdf"));
    EXPECT_FALSE(s.ok);
    EXPECT_NE(s.message.find("password"), std::string::npos) << s.message;

    const auto refused = [&](const std::string &pdf, const std::string &needle) {
        qstest::write_file(dir.file("bad.pdf"), pdf);
        const Signed r = sign_file(dir.file("bad.pdf"), dir.file("bad-out.pdf"));
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find(needle), std::string::npos) << r.message;
    };
    refused(pdftest::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"}),
            "no pages");
    refused(pdftest::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612] >>"}),
            "/MediaBox");
    std::string damaged = qstest::read_file(qstest::fixture("classic.pdf"));
    const std::size_t table = damaged.rfind("\nxref\n");
    ASSERT_NE(table, std::string::npos);
    damaged.replace(table + 1, 40, std::string(40, '#'));
    refused(damaged, "The input PDF");
    // An object that is not where the table says reads as null in qpdf, with a warning.
    std::string misplaced = pdftest::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"});
    char entry[32], moved[32];
    const long page_at = static_cast<long>(misplaced.find("3 0 obj"));
    std::snprintf(entry, sizeof entry, "%010ld", page_at);
    std::snprintf(moved, sizeof moved, "%010ld", page_at + 3);
    misplaced.replace(misplaced.find(entry), 10, moved);
    refused(misplaced, "The input PDF is damaged");
    refused("%PDF-1.4\nstartxref\n9\n", "%%%%EOF");
    refused("%PDF-1.4\n1 0 obj\n<< >>\nendobj\nstartxref\n999999\n%%EOF\n", "The input PDF cannot be read");
}

}  // namespace
