// The DSS update on hand-made documents, with the validation data given
// directly: the objects, their numbering, the catalog and the section, in
// both cross-reference forms.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "pdf/dss_update.h"
#include "pdf/qpdf_api.h"
#include "pdf_test_util.h"

namespace {

using qstest::run_shell;
using qstest::shell_quote;
using qstest::TempDir;

// Catalog, pages, page, a signed field, a field signed with self-signed
// certificates only, an unsigned field, and filler up to object 19.
std::string document() {
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [ 4 0 R 6 0 R 8 0 R ] >> "
        "/Extensions << /XYZ << /BaseVersion /1.7 /ExtensionLevel 1 >> >> /DSS << /Certs [ ] >> >>",
        "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 612 792 ] >>",
        "<< /FT /Sig /T (one) /V 5 0 R >>",
        "<< /Type /Sig /Contents <0a0b0c> >>",
        "<< /FT /Sig /T (self-signed) /V 7 0 R >>",
        "<< /Type /Sig /Contents <0d0e> >>",
        "<< /FT /Sig /T (unsigned) >>",
    };
    while (objects.size() < 19) objects.push_back("<< >>");
    return qstest::make_pdf(objects);
}

bool source(std::string_view contents, const qs::DocumentMaterial &, qs::LtvSignatureData &data) {
    data = qs::LtvSignatureData{};
    data.vri_key = contents == "\x0a\x0b\x0c" ? "AAAA" : "BBBB";
    data.certs = {{"01", "first certificate"}, {"02", "second certificate"}};
    if (contents == "\x0a\x0b\x0c") data.ocsps = {{"01", "an OCSP response"}};
    return true;
}

TEST(DssUpdate, StoreVriAndCatalogInBothSectionForms) {
    TempDir dir;
    qstest::write_file(dir.file("classic.pdf"), document());
    ASSERT_EQ(run_shell("qpdf --object-streams=generate " + shell_quote(dir.file("classic.pdf")) + " " +
                        shell_quote(dir.file("stream.pdf"))).status,
              0);
    for (const char *form : {"classic", "stream"}) {
        SCOPED_TRACE(form);
        const std::string in = dir.file(std::string(form) + ".pdf");
        QPDF original;
        original.processFile(in.c_str());
        const int s = static_cast<int>(original.getTrailer().getKey("/Size").getIntValue());
        const int catalog = original.getRoot().getObjectID();
        const std::string ref = " 0 R";
        const auto n = [&](int k) { return std::to_string(s + k); };

        pdftest::File input = pdftest::open_read(in);
        std::string update;
        ASSERT_TRUE(qs::build_dss_update(input.get(), "", source, update));
        EXPECT_EQ(update.rfind("\r\n" + n(0) + " 0 obj\n<< /Filter /FlateDecode /Length ", 0), 0u);
        EXPECT_NE(update.find(n(3) + " 0 obj\n<< /AAAA << /Cert [ " + n(0) + ref + " " + n(1) + ref + " ] /OCSP [ " +
                              n(2) + ref + " ] >> >>\nendobj\n"),
                  std::string::npos);
        EXPECT_NE(update.find(n(4) + " 0 obj\n<< /Certs [ " + n(0) + ref + " " + n(1) + ref + " ] /OCSPs [ " + n(2) +
                              ref + " ] /VRI " + n(3) + ref + " >>\nendobj\n"),
                  std::string::npos);
        const std::size_t at = update.find("\n" + std::to_string(catalog) + " 0 obj\n<< ");
        ASSERT_NE(at, std::string::npos);
        const std::string catalog_text = update.substr(at, update.find("endobj", at) - at);
        // Another developer's extension stays beside the one the store needs.
        EXPECT_NE(catalog_text.find("/DSS " + n(4) + ref + " /Extensions << /ADBE << /BaseVersion /1.7 "
                                    "/ExtensionLevel 5 >> /XYZ << /BaseVersion /1.7 /ExtensionLevel 1 >> >> /Pages "),
                  std::string::npos)
            << catalog_text;
        if (std::string(form) == "classic") {
            // No /ID in the input: both elements are the digest.
            EXPECT_TRUE(std::regex_search(update, std::regex("/ID \\[ <([0-9a-f]{32})> <\\1> \\]")));
            EXPECT_NE(update.find("xref\n0 1\n0000000000 65535 f\r\n1 1\n"), std::string::npos);
            EXPECT_NE(update.find("\n20 5\n"), std::string::npos);
            EXPECT_NE(update.find("/Size 25 >>\nstartxref\n"), std::string::npos);
        } else {
            EXPECT_NE(update.find("/Size " + n(6) + " /Type /XRef /W [ 1 4 1 ]"), std::string::npos);
        }

        const std::string out = dir.file(std::string(form) + "-ltv.pdf");
        qstest::write_file(out, qstest::read_file(in) + update);
        EXPECT_EQ(run_shell("qpdf --check " + shell_quote(out) + " >/dev/null 2>&1").status, 0);
        QPDF written;
        written.processFile(out.c_str());
        QPDFObjectHandle certs = written.getRoot().getKey("/DSS").getKey("/Certs");
        auto data = certs.getArrayItem(1).getStreamData(qpdf_dl_generalized);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(data->getBuffer()), data->getSize()), "second certificate");
    }
}

// A document whose store holds items, /VRI entries and an entry of its own,
// under a higher extension level than a store needs.
std::string document_with_store() {
    const auto stream = [](const std::string &data) {
        return "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
    };
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [ 4 0 R ] >> "
        "/Extensions << /ADBE << /BaseVersion /1.7 /ExtensionLevel 8 >> /XYZ << /ExtensionLevel 1 >> >> "
        "/DSS << /Certs [ 9 0 R 10 0 R ] /OCSPs [ 11 0 R ] /CRLs [ 12 0 R ] /Vendor (kept) "
        "/VRI << /AAAA << /Cert [ 9 0 R ] /OCSP [ 11 0 R ] >> /CCCC << /CRL [ 12 0 R ] >> >> >> >>",
        "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 612 792 ] >>",
        "<< /FT /Sig /T (one) /V 5 0 R >>",
        "<< /Type /Sig /Contents <0a0b0c> >>",
        "<< >>", "<< >>", "<< >>",
        stream("first certificate"), stream("an older certificate"), stream("an older OCSP response"),
        stream("an older CRL"),
    };
    return qstest::make_pdf(objects);
}

// What a store written over the earlier one holds: every earlier item, entry
// and key, each item once, and the level it had.
TEST(DssUpdate, EarlierStoreIsExtendedNeverReplaced) {
    TempDir dir;
    const std::string in = dir.file("stored.pdf");
    qstest::write_file(in, document_with_store());
    pdftest::File input = pdftest::open_read(in);
    std::string update;
    ASSERT_TRUE(qs::build_dss_update(input.get(), "", source, update));
    const std::string out = dir.file("stored-ltv.pdf");
    qstest::write_file(out, qstest::read_file(in) + update);
    EXPECT_EQ(run_shell("qpdf --check " + shell_quote(out) + " >/dev/null 2>&1").status, 0);

    QPDF written;
    written.processFile(out.c_str());
    QPDFObjectHandle catalog = written.getRoot();
    QPDFObjectHandle dss = catalog.getKey("/DSS");
    const auto data = [](QPDFObjectHandle item) {
        auto bytes = item.getStreamData(qpdf_dl_generalized);
        return std::string(reinterpret_cast<const char *>(bytes->getBuffer()), bytes->getSize());
    };
    const auto contents = [&](QPDFObjectHandle array) {
        std::vector<std::string> items;
        for (QPDFObjectHandle item : array.aitems()) items.push_back(data(item));
        return items;
    };
    const auto numbers = [](QPDFObjectHandle array) {
        std::vector<int> items;
        for (QPDFObjectHandle item : array.aitems()) items.push_back(item.getObjectID());
        return items;
    };
    using Items = std::vector<std::string>;
    EXPECT_EQ(contents(dss.getKey("/Certs")),
              (Items{"first certificate", "an older certificate", "second certificate"}));
    EXPECT_EQ(contents(dss.getKey("/OCSPs")), (Items{"an older OCSP response", "an OCSP response"}));
    EXPECT_EQ(contents(dss.getKey("/CRLs")), (Items{"an older CRL"}));
    EXPECT_EQ(numbers(dss.getKey("/Certs")).at(0), 9);  // stored once, where it was
    EXPECT_EQ(dss.getKey("/Vendor").getUTF8Value(), "kept");
    QPDFObjectHandle vri = dss.getKey("/VRI");
    EXPECT_EQ(contents(vri.getKey("/AAAA").getKey("/Cert")), (Items{"first certificate", "second certificate"}));
    EXPECT_EQ(contents(vri.getKey("/AAAA").getKey("/OCSP")), (Items{"an older OCSP response", "an OCSP response"}));
    EXPECT_EQ(numbers(vri.getKey("/CCCC").getKey("/CRL")), (std::vector<int>{12}));
    QPDFObjectHandle extensions = catalog.getKey("/Extensions");
    EXPECT_EQ(extensions.getKey("/ADBE").getKey("/ExtensionLevel").getIntValue(), 8);
    EXPECT_TRUE(extensions.getKey("/XYZ").isDictionary());
}

}  // namespace
