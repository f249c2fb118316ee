// Damaged, hostile and unusual documents through the real program: every run
// ends with one status line, the input keeps its bytes, a refused document
// leaves no output behind, and a document sound enough to sign gives an output
// that others' tools accept.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "support/support.h"

namespace {

using qstest::TempDir;

enum class Expect { Refused, Signed, Either };

struct Case {
    const char *name;
    std::function<std::string(const TempDir &)> make;  // the document's bytes
    Expect expect;
    const char *refusal = nullptr;  // the start of the failure text, when it is fixed
};

std::string classic() { return qstest::read_file(qstest::fixture("classic.pdf")); }

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("the document holds no \"" + from + "\"");
    return text.replace(at, from.size(), to);
}

// Everything after the last "startxref" keyword: the offset line and "%%EOF".
std::string with_startxref(const std::string &pdf, const std::string &value) {
    const std::size_t at = pdf.rfind("startxref");
    return pdf.substr(0, at) + "startxref\n" + value + "\n%%EOF\n";
}

std::string padded(std::size_t offset) {
    std::string digits = std::to_string(offset);
    return std::string(10 - digits.size(), '0') + digits;
}

// A small document written by hand: objects numbered from 1 and one classic
// cross-reference table. "{xref}" in the trailer stands for the table's offset.
std::string hand_pdf(const std::vector<std::string> &objects, std::string trailer = "") {
    std::string pdf = "%PDF-1.5\n%\xe2\xe3\xcf\xd3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) pdf += padded(offset) + " 00000 n \n";
    if (trailer.empty()) trailer = "/Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R";
    const std::size_t mark = trailer.find("{xref}");
    if (mark != std::string::npos) trailer.replace(mark, 6, std::to_string(xref));
    return pdf + "trailer\n<< " + trailer + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
}

const char *kCatalog = "<< /Type /Catalog /Pages 2 0 R >>";
const char *kPages = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
std::string page(const std::string &box = "[0 0 595 842]") {
    return "<< /Type /Page /Parent 2 0 R /MediaBox " + box + " >>";
}

// A classic table with /XRefStm in its trailer: object 4 lives in an object
// stream that only the cross-reference stream knows about. The keyword that
// opens both streams, the object stream's header and the excess of its
// /Length over its data can be given.
std::string hybrid_pdf(const std::string &keyword = "stream\n", const std::string &header = "4 0 ",
                       std::size_t excess = 0) {
    std::string pdf = "%PDF-1.5\n%\xe2\xe3\xcf\xd3\n";
    std::vector<std::size_t> at(7, 0);
    const auto add = [&](int number, const std::string &body) {
        at[static_cast<std::size_t>(number)] = pdf.size();
        pdf += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
    };
    add(1, kCatalog);
    add(2, kPages);
    add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 4 0 R >> >> >>");
    const std::string stream = header + "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    add(5, "<< /Type /ObjStm /N 1 /First " + std::to_string(header.size()) + " /Length " +
               std::to_string(stream.size() + excess) + " >>\n" + keyword + stream + "\nendstream");
    const std::string row("\x02\x00\x05\x00", 4);  // W [1 2 1]: in stream 5, index 0
    add(6, "<< /Type /XRef /Size 7 /Index [4 1] /W [1 2 1] /Length 4 >>\n" + keyword + row + "\nendstream");
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 7\n0000000000 65535 f \n";
    for (int n = 1; n <= 6; ++n)
        pdf += n == 4 ? std::string("0000000000 00001 f \n") : padded(at[static_cast<std::size_t>(n)]) + " 00000 n \n";
    return pdf + "trailer\n<< /Size 7 /Root 1 0 R /XRefStm " + std::to_string(at[6]) + " >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
}

// The document as qpdf writes it with the given options.
std::string through_qpdf(const TempDir &dir, const std::string &pdf, const std::string &options) {
    const std::string from = dir.file("qpdf-in.pdf"), to = dir.file("qpdf-out.pdf");
    qstest::write_file(from, pdf);
    qstest::run_shell("qpdf " + options + " " + qstest::shell_quote(from) + " " + qstest::shell_quote(to) +
                      " >/dev/null 2>&1");
    std::string out = qstest::read_file(to);
    std::remove(from.c_str());
    std::remove(to.c_str());
    if (out.empty()) throw std::runtime_error("qpdf " + options + " wrote nothing");
    return out;
}

std::set<std::string> files_in(const std::string &path) {
    std::set<std::string> names;
    if (DIR *d = opendir(path.c_str())) {
        while (const dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

bool starts_with(const std::string &text, const std::string &prefix) { return text.rfind(prefix, 0) == 0; }

// One status line and no sanitizer report.
void expect_one_line(const clitest::BoundedRun &r) {
    EXPECT_EQ(clitest::output_lines(r.out).size(), 1u) << r.out;
    EXPECT_EQ(r.out.empty() ? '\n' : r.out.back(), '\n');
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
}

void expect_refused(const clitest::BoundedRun &r) {
    expect_one_line(r);
    EXPECT_TRUE(starts_with(r.out, "-1#")) << r.out;
    EXPECT_EQ(r.status, 255) << r.out << r.err;
}

class MalformedInput : public ::testing::Test {
protected:
    void sign_and_verify(const std::vector<Case> &cases) {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            std::string bytes;
            ASSERT_NO_THROW(bytes = c.make(dir)) << c.name;
            sign_and_verify_one(c, bytes);
        }
    }

    void sign_and_verify_one(const Case &c, const std::string &bytes) {
        const std::string in = dir.file("input.pdf"), out = dir.file("signed.pdf");
        qstest::write_file(in, bytes);
        const std::set<std::string> before = files_in(dir.path());

        const clitest::BoundedRun s = clitest::run_bounded(dir, {"-i", in, "-o", out, "-z", conf});
        expect_one_line(s);
        EXPECT_EQ(qstest::read_file(in), bytes) << "the input was changed";
        if (starts_with(s.out, "-1#")) {
            EXPECT_NE(c.expect, Expect::Signed) << s.out;
            if (c.refusal) {
                EXPECT_TRUE(starts_with(s.out, std::string("-1#") + c.refusal)) << s.out;
            }
            EXPECT_EQ(s.status, 255) << s.out << s.err;
            EXPECT_EQ(files_in(dir.path()), before) << "a refused document left files behind";
        } else {
            EXPECT_NE(c.expect, Expect::Refused) << s.out;
            EXPECT_EQ(s.out, "0#Document signed: input[" + in + "] output[" + out + "]\n");
            EXPECT_EQ(s.status, 0);
            EXPECT_EQ(clitest::check_signed_output(out, in), "");
            const clitest::BoundedRun v = clitest::run_bounded(dir, {"verify", "-i", out, "-z", conf});
            expect_one_line(v);
            EXPECT_TRUE(starts_with(v.out, "0#Document signature verified [Signer: Test Signer]")) << v.out;
        }
        // None of these inputs carries a signature of its own.
        const clitest::BoundedRun v = clitest::run_bounded(dir, {"verify", "-i", in, "-z", conf});
        expect_refused(v);
        EXPECT_TRUE(starts_with(v.out, "-1#Document signature verification fails [")) << v.out;
        EXPECT_EQ(qstest::read_file(in), bytes) << "verification changed the input";
        std::remove(in.c_str());
        std::remove(out.c_str());
    }

    TempDir dir;
    std::string conf = clitest::write_config(dir);
};

TEST_F(MalformedInput, CutAndForeignFilesAreRefused) {
    std::mt19937 noise(20240601);
    std::string random_bytes;
    for (int i = 0; i < 4096; ++i) random_bytes += static_cast<char>(noise() & 0xff);
    const std::string whole = classic();
    sign_and_verify({
        {"empty file", [](const TempDir &) { return std::string(); }, Expect::Refused},
        {"plain text named .pdf", [](const TempDir &) { return std::string("Dear reader,\nthis is a letter.\n"); },
         Expect::Refused},
        {"binary noise ending in %%EOF", [&](const TempDir &) { return random_bytes + "\n%%EOF\n"; },
         Expect::Refused},
        {"noise after a PDF header", [&](const TempDir &) { return "%PDF-1.7\n" + random_bytes + "\nstartxref\n9\n%%EOF\n"; },
         Expect::Refused},
        {"cut after the header", [&](const TempDir &) { return whole.substr(0, 9); }, Expect::Refused},
        {"cut in the middle", [&](const TempDir &) { return whole.substr(0, whole.size() / 2); }, Expect::Refused},
        {"cut inside the trailer", [&](const TempDir &) { return whole.substr(0, whole.size() - 40); },
         Expect::Refused},
        {"cut inside the table, tail kept",
         [&](const TempDir &) { return whole.substr(0, whole.find("xref\n0 ") + 30) + "\nstartxref\n1\n%%EOF\n"; },
         Expect::Refused},
    });
}

TEST_F(MalformedInput, BrokenCrossReferenceIsRefused) {
    const std::string whole = classic();
    const std::size_t xref = whole.rfind("\nxref\n") + 1;
    const std::string table = std::to_string(xref);
    sign_and_verify({
        {"startxref off by 40", [&](const TempDir &) { return with_startxref(whole, std::to_string(xref - 40)); },
         Expect::Refused},
        {"startxref past the end", [&](const TempDir &) { return with_startxref(whole, "99999999"); },
         Expect::Refused},
        {"startxref negative", [&](const TempDir &) { return with_startxref(whole, "-5"); }, Expect::Refused},
        {"startxref beyond every number",
         [&](const TempDir &) { return with_startxref(whole, "999999999999999999999999999"); }, Expect::Refused},
        {"no startxref", [&](const TempDir &) { return whole.substr(0, whole.rfind("startxref")) + "%%EOF\n"; },
         Expect::Refused},
        {"garbled table entries",
         [&](const TempDir &) { return replaced(whole, "0000000015 00000 n", "00000zz015 0q000 x"); },
         Expect::Refused},
        {"table entry pointing elsewhere",
         [&](const TempDir &) { return replaced(whole, "0000000015 00000 n", "0000000016 00000 n"); },
         Expect::Refused},
        {"table count larger than the table",
         [&](const TempDir &) { return replaced(whole, "xref\n0 9\n", "xref\n0 90\n"); }, Expect::Refused},
        {"table whose /Prev is itself",
         [&](const TempDir &) { return replaced(whole, "trailer << ", "trailer << /Prev " + table + " "); },
         Expect::Refused},
        {"trailer without /Root",
         [&](const TempDir &) { return hand_pdf({kCatalog, kPages, page()}, "/Size 4"); }, Expect::Refused},
        // Signing it once wrote the catalog as object 0, which no reader opens.
        {"catalog held in the trailer itself",
         [&](const TempDir &) { return hand_pdf({"<< >>", kPages, page()}, "/Size 4 /Root " + std::string(kCatalog)); },
         Expect::Refused},
    });
}

// Blemishes that readers pass over are signed over, and the output repeats
// none of them that the input did not have; damage, or a blemish in an object
// the update writes again, is refused.
TEST_F(MalformedInput, HarmlessBlemishesAreSignedAndDamageIsRefused) {
    const std::string plain = hand_pdf({kCatalog, kPages, page()});
    const std::size_t xref = plain.rfind("\nxref\n") + 1;
    const auto tail = [&](const std::string &text) {  // everything from "startxref" on
        return [&plain, text](const TempDir &) { return plain.substr(0, plain.rfind("startxref")) + text; };
    };
    const std::string at_xref = std::to_string(xref);
    const auto pages = [](const std::string &extra) {  // a page tree node with more in it
        return [extra](const TempDir &) {
            return hand_pdf({kCatalog, "<< /Type /Pages /Kids [3 0 R] /Count 1 " + extra + " >>", page()});
        };
    };
    const auto objects = [](std::vector<std::string> list, const std::string &trailer = "") {
        return [list, trailer](const TempDir &) { return hand_pdf(list, trailer); };
    };
    const auto entries_with_late_blanks = [&](const TempDir &) {
        std::string text = plain;
        for (std::size_t at = 0; (at = text.find(" n \n", at)) != std::string::npos; at += 4)
            text.replace(at, 4, " n\n ");
        return text;
    };
    const auto page_moved = [&](const TempDir &) {
        const std::size_t at = plain.find("3 0 obj");
        return replaced(plain, padded(at) + " 00000 n", padded(at + 2) + " 00000 n");
    };
    const std::vector<Case> cases = {
        {"trailer /Size above the objects in use", objects({kCatalog, kPages, page()}, "/Size 9 /Root 1 0 R"),
         Expect::Signed},
        {"startxref at the line end before xref",
         [&](const TempDir &) { return with_startxref(plain, std::to_string(xref - 1)); }, Expect::Signed},
        {"startxref and its value on one line", tail("startxref " + at_xref + "\n%%EOF\n"), Expect::Signed},
        {"startxref with lone CR line ends", tail("startxref\r\r" + at_xref + "\r%%EOF\r"), Expect::Signed},
        {"startxref with a blank line", tail("startxref\n\n" + at_xref + "\n%%EOF\n"), Expect::Signed},
        {"stream keywords followed by CR only", [](const TempDir &) { return hybrid_pdf("stream\r"); },
         Expect::Signed},
        {"stream keywords followed by a blank", [](const TempDir &) { return hybrid_pdf("stream \n"); },
         Expect::Signed},
        {"table entries with the line end before the blank", entries_with_late_blanks, Expect::Signed},
        {"stray # in a name of the page tree", pages("/Stray#Name 1"), Expect::Signed},
        {"key given twice in the page tree", pages("/Count 1"), Expect::Signed},

        {"page not where its entry points", page_moved, Expect::Refused, "The input PDF is damaged: expected n n obj"},
        {"page without endobj", objects({kCatalog, kPages, page() + " 12"}), Expect::Refused,
         "The input PDF is damaged: expected endobj"},
        {"object stream longer than its data", [](const TempDir &) { return hybrid_pdf("stream\n", "4 0 ", 40); },
         Expect::Refused, "The input PDF is damaged: expected endstream"},
        {"object stream with a damaged header", [](const TempDir &) { return hybrid_pdf("stream\n", "4 x "); },
         Expect::Refused, "The input PDF is damaged: expected integer in object stream header"},
        {"page tree with a brace read as null", pages("}"), Expect::Refused,
         "The input PDF is damaged: treating unexpected brace token as null"},
        {"page listed twice in the page tree",
         objects({kCatalog, "<< /Type /Pages /Kids [3 0 R 3 0 R] /Count 2 >>", page()}), Expect::Refused,
         "The input PDF is damaged: kid 1 (from 0) appears more than once"},
        {"key given twice in the catalog",
         objects({"<< /Type /Catalog /Type /Catalog /Pages 2 0 R >>", kPages, page()}), Expect::Refused,
         "The input PDF is damaged: dictionary has duplicated key /Type"},
        {"key given twice in the signature page",
         objects({kCatalog, kPages, page("[0 0 595 842] /Rotate 0 /Rotate 0")}), Expect::Refused,
         "The input PDF is damaged: dictionary has duplicated key /Rotate"},
        {"key given twice in the information dictionary",
         objects({kCatalog, kPages, page(), "<< /Title (a) /Title (b) >>"}, "/Size 5 /Root 1 0 R /Info 4 0 R"),
         Expect::Refused, "The input PDF is damaged: dictionary has duplicated key /Title"},
        {"key given twice in the certification signature",
         objects({"<< /Type /Catalog /Pages 2 0 R /Perms << /DocMDP 4 0 R >> >>", kPages, page(),
                  "<< /Type /Sig /TransformParams << /P 1 /P 2 >> >>"}),
         Expect::Refused, "The input PDF is damaged: dictionary has duplicated key /P"},
        {"stray # in a name of the form",
         objects({"<< /Type /Catalog /Pages 2 0 R /AcroForm 4 0 R >>", kPages, page(),
                  "<< /Fields [] /Stray#Name 1 >>"}),
         Expect::Refused, "The input PDF is damaged: name with stray #"},
    };
    sign_and_verify(cases);
}

TEST_F(MalformedInput, EncryptedInputIsRefused) {
    sign_and_verify({
        {"AES-256, unknown user password",
         [](const TempDir &d) { return through_qpdf(d, classic(), "--encrypt secret owner 256 --"); },
         Expect::Refused},
        {"AES-256, owner password only",
         [](const TempDir &d) { return through_qpdf(d, classic(), "--encrypt '' owner 256 --"); },
         Expect::Refused},
        {"RC4, unknown user password",
         [](const TempDir &d) {
             return through_qpdf(d, classic(), "--allow-weak-crypto --encrypt secret owner 40 --");
         },
         Expect::Refused},
    });
}

TEST_F(MalformedInput, PageTreesAndPageBoxes) {
    sign_and_verify({
        {"page tree whose kids hold its root",
         [](const TempDir &) {
             return hand_pdf({kCatalog, "<< /Type /Pages /Kids [3 0 R 2 0 R] /Count 2 >>", page()});
         },
         Expect::Refused},
        {"page tree looping through an inner node",
         [](const TempDir &) {
             return hand_pdf({kCatalog, kPages, "<< /Type /Pages /Parent 2 0 R /Kids [2 0 R] /Count 1 >>"});
         },
         Expect::Refused},
        {"/MediaBox of three numbers", [](const TempDir &) { return hand_pdf({kCatalog, kPages, page("[0 0 595]")}); },
         Expect::Refused},
        {"/MediaBox of texts",
         [](const TempDir &) { return hand_pdf({kCatalog, kPages, page("[(a) (b) (c) (d)]")}); }, Expect::Refused},
        {"no pages",
         [](const TempDir &) { return hand_pdf({kCatalog, "<< /Type /Pages /Kids [] /Count 0 >>"}); },
         Expect::Refused},
        {"/Pages naming a missing object",
         [](const TempDir &) { return hand_pdf({"<< /Type /Catalog /Pages 7 0 R >>"}); }, Expect::Refused},
        {"catalog that is not a dictionary", [](const TempDir &) { return hand_pdf({"[1 2 3]", kPages, page()}); },
         Expect::Refused},
        {"/MediaBox of integers beyond 64 bits",
         [](const TempDir &) {
             return hand_pdf({kCatalog, kPages, page("[-99999999999999999999 0 99999999999999999999 9]")});
         },
         Expect::Refused},
        {"/MediaBox of huge reals",
         [](const TempDir &) {
             return hand_pdf({kCatalog, kPages, page("[-99999999999999999999.5 0 99999999999999999999.5 3000000000]")});
         },
         Expect::Signed},
        {"/MediaBox of huge negative reals",
         [](const TempDir &) {
             return hand_pdf({kCatalog, kPages, page("[0 0 -99999999999999999999.5 -99999999999999999999.5]")});
         },
         Expect::Signed},
    });
}

TEST_F(MalformedInput, UnusualButSoundDocumentsAreSigned) {
    const std::string indirect_fields =
        hand_pdf({"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields 4 0 R >> >>", kPages, page(), "[]"});
    sign_and_verify({
        {"indirect /Fields array", [&](const TempDir &) { return indirect_fields; }, Expect::Signed},
        {"indirect form with an indirect /Fields array",
         [](const TempDir &) {
             return hand_pdf({"<< /Type /Catalog /Pages 2 0 R /AcroForm 4 0 R >>", kPages, page(),
                              "<< /Fields 5 0 R /DA (/Helv 0 Tf 0 g) >>", "[]"});
         },
         Expect::Signed},
        {"/Fields naming a missing object",
         [](const TempDir &) {
             return hand_pdf({"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields 9 0 R >> >>", kPages, page()});
         },
         Expect::Either},
        {"catalog inside an object stream",
         [](const TempDir &) { return qstest::read_file(qstest::fixture("objstm.pdf")); }, Expect::Signed},
        {"catalog and indirect /Fields inside an object stream",
         [&](const TempDir &d) { return through_qpdf(d, indirect_fields, "--object-streams=generate"); },
         Expect::Signed},
        {"hybrid-reference file", [](const TempDir &) { return hybrid_pdf(); }, Expect::Signed},
        {"inherited /MediaBox",
         [](const TempDir &) {
             return hand_pdf({kCatalog, "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 300 300] >>",
                              "<< /Type /Page /Parent 2 0 R >>"});
         },
         Expect::Signed},
        {"trailer /Size below the objects in use",
         [](const TempDir &) { return hand_pdf({kCatalog, kPages, page(), "(spare)"}, "/Size 2 /Root 1 0 R"); },
         Expect::Signed},
        {"trailer /Size at the largest object number",
         [](const TempDir &) { return hand_pdf({kCatalog, kPages, page()}, "/Size 2147483647 /Root 1 0 R"); },
         Expect::Either},
        {"trailer /Size beyond every object number",
         [](const TempDir &) { return hand_pdf({kCatalog, kPages, page()}, "/Size 99999999999 /Root 1 0 R"); },
         Expect::Either},
    });
}

// A FIFO would block the run and /dev/zero never ends: neither is opened, and a
// failed run removes no device or FIFO that its output path names.
TEST_F(MalformedInput, FifosDevicesAndDirectoriesAreNeverOpened) {
    const std::string fifo = dir.file("fifo.pdf"), folder = dir.file("folder.pdf"), device = dir.file("device.pdf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(symlink("/dev/null", device.c_str()), 0);
    const std::string doc = dir.file("doc.pdf");
    qstest::write_file(doc, classic());
    const std::string store_conf = dir.file("fifo-store.conf");
    qstest::write_file(store_conf, replaced(qstest::read_file(conf), qstest::fixture("signer.p12"), fifo));
    const std::string zero_store_conf = dir.file("zero-store.conf");
    qstest::write_file(zero_store_conf, replaced(qstest::read_file(conf), qstest::fixture("signer.p12"), "/dev/zero"));
    const std::string device_conf = dir.file("fifo-device.conf");
    qstest::write_file(device_conf, "certstore=PKCS11 SECURITY DEVICE\np11url=slot_0-id_01\nsignerpem=" + fifo +
                                        "\ncapem=" + fifo + "\nengine=" + fifo + "\nlibrary=" + fifo + "\n");
    const struct {
        const char *name;
        std::vector<std::string> args;
        const char *line;
    } runs[] = {
        {"FIFO input", {"-i", fifo, "-o", dir.file("out.pdf"), "-z", conf}, "-1#Not a regular file [File: "},
        {"directory input", {"-i", folder, "-o", dir.file("out.pdf"), "-z", conf}, "-1#Not a regular file [File: "},
        {"FIFO verified", {"verify", "-i", fifo, "-z", conf}, "-1#Document signature verification fails [The document to verify is not a regular file.]"},
        {"FIFO output", {"-i", doc, "-o", fifo, "-z", conf}, "-1#The output path names no regular file"},
        {"device output", {"-i", doc, "-o", device, "-z", conf}, "-1#The output path names no regular file"},
        {"directory output", {"-i", doc, "-o", folder, "-z", conf}, "-1#The output path names no regular file"},
        {"FIFO key store", {"-i", doc, "-o", dir.file("out.pdf"), "-z", store_conf}, "-1#Not a regular file [File: "},
        {"FIFO certificates of a device", {"-i", doc, "-o", dir.file("out.pdf"), "-z", device_conf}, "-1#"},
        {"endless key store", {"-i", doc, "-o", dir.file("out.pdf"), "-z", zero_store_conf},
         "-1#Not a regular file [File: /dev/zero]"},
        {"endless configuration", {"-i", doc, "-o", dir.file("out.pdf"), "-z", "/dev/zero"},
         "-1#No configuration file found"},
        {"FIFO configuration", {"-i", doc, "-o", dir.file("out.pdf"), "-z", fifo}, "-1#No configuration file found"},
    };
    for (const auto &run : runs) {
        SCOPED_TRACE(run.name);
        const clitest::BoundedRun r = clitest::run_bounded(dir, run.args);
        expect_refused(r);
        EXPECT_TRUE(starts_with(r.out, run.line)) << r.out;
        EXPECT_FALSE(qstest::file_exists(dir.file("out.pdf")));
    }
    struct stat info {};
    EXPECT_EQ(lstat(device.c_str(), &info), 0) << "the link to the device was removed";
    EXPECT_EQ(stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(qstest::read_file(doc), classic());
}

// Status lines are read one per document: a line end in a path or a message
// must not start a second one.
TEST_F(MalformedInput, LineEndsInPathsStayOnOneStatusLine) {
    const std::string in = dir.file("two\nlines.pdf"), out = dir.file("signed\r\n.pdf");
    qstest::write_file(in, classic());
    clitest::BoundedRun r = clitest::run_bounded(dir, {"-i", in, "-o", out, "-z", conf});
    expect_one_line(r);
    EXPECT_EQ(r.out, "0#Document signed: input[" + dir.file("two lines.pdf") + "] output[" +
                         dir.file("signed  .pdf") + "]\n");
    EXPECT_EQ(clitest::check_signed_output(out), "");
    r = clitest::run_bounded(dir, {"-i", dir.file("missing\n.pdf"), "-o", dir.file("x.pdf"), "-z", conf});
    expect_refused(r);
    EXPECT_EQ(r.out, "-1#No such file or directory [File: " + dir.file("missing .pdf") + "]\n");
}

// Signed documents damaged afterwards: verification names the fault in one line.
TEST_F(MalformedInput, DamagedSignedDocumentsFailVerification) {
    const std::string in = dir.file("doc.pdf"), out = dir.file("signed.pdf");
    qstest::write_file(in, classic());
    ASSERT_EQ(clitest::run_bounded(dir, {"-i", in, "-o", out, "-z", conf}).status, 0);
    const std::string good = qstest::read_file(out);
    const std::size_t range_at = good.rfind("/ByteRange");
    const std::size_t range_end = good.find(']', range_at);
    const std::string range = good.substr(range_at, range_end + 1 - range_at);
    const std::size_t contents = good.find("/Contents <", range_at > 6000 ? range_at - 6000 : 0) + 11;
    const auto with_range = [&](const std::string &numbers) {
        std::string value = "/ByteRange [" + numbers + "]";
        value.resize(range.size(), ' ');
        return replaced(good, range, value);
    };
    const struct {
        const char *name;
        std::string bytes;
    } damaged[] = {
        {"cut by 100 bytes", good.substr(0, good.size() - 100)},
        {"cut inside the signature", good.substr(0, contents + 300)},
        {"range past the end", with_range("0 100 200 99999999")},
        {"range with negative numbers", with_range("0 -10 -5 20")},
        {"range of huge numbers", with_range("0 9223372036854775807 9223372036854775807 1")},
        {"range of three numbers", with_range("0 100 200")},
        {"range not framing the contents", with_range("0 10 20 30")},
        {"contents not hexadecimal", good.substr(0, contents) + "zz" + good.substr(contents + 2)},
        {"contents of zeros only",
         good.substr(0, contents) + std::string(200, '0') + good.substr(contents + 200)},
        {"a signed byte changed", replaced(good, "/Producer", "/Producex")},
    };
    for (const auto &d : damaged) {
        SCOPED_TRACE(d.name);
        qstest::write_file(in, d.bytes);
        const clitest::BoundedRun v = clitest::run_bounded(dir, {"verify", "-i", in, "-z", conf});
        expect_refused(v);
        EXPECT_TRUE(starts_with(v.out, "-1#Document signature verification fails [")) << v.out;
        EXPECT_EQ(qstest::read_file(in), d.bytes);
    }
}

}  // namespace
