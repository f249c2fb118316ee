// The cross-reference section byte for byte: entries, subsection headers,
// stream entries, sorted trailer keys, and the forward references.
#include <gtest/gtest.h>

#include <cstring>

#include <quillseal/quillseal.h>

#include "pdf/xref_writer.h"

namespace {

using qs::UpdateWriter;
using qs::XrefForm;

TEST(XrefWriter, EntryFields) {
    EXPECT_EQ(qs::xref_line_offset(0), "0000000000");
    EXPECT_EQ(qs::xref_line_offset(1234567), "0001234567");
    EXPECT_EQ(qs::xref_line_offset(9999999999L), "9999999999");
    EXPECT_THROW(qs::xref_line_offset(10000000000L), std::runtime_error);
    char line[11];
    EXPECT_STREQ(getXRefLineOffset(1234567, line), "0001234567");
    EXPECT_EQ(getXRefLineOffset(10000000000L, line), nullptr);

    EXPECT_EQ(qs::xref_stream_entry(0x01020304), std::string("\x01\x01\x02\x03\x04\x00", 6));
    unsigned char entry[6];
    xRefStreamOffsetData(0xA0B0C0D0L, entry);
    EXPECT_EQ(std::memcmp(entry, "\x01\xA0\xB0\xC0\xD0\x00", 6), 0);
    EXPECT_THROW(qs::xref_stream_entry(0x100000000L), std::runtime_error);

    char name[16];
    EXPECT_STREQ(indirectObjectPlaceHolder(12, name), "12_0_R");
    unsigned char digest[16];
    compute_md5(reinterpret_cast<const unsigned char *>("abc"), 3, digest);
    EXPECT_EQ(std::memcmp(digest, "\x90\x01\x50\x98\x3c\xd2\x4f\xb0\xd6\x96\x3f\x7d\x28\xe1\x7f\x72", 16), 0);
    EXPECT_EQ(qs::md5("abc"), std::string(reinterpret_cast<char *>(digest), 16));
}

TEST(XrefWriter, ForwardReferencesResolveOnlyTheirOwnNames) {
    QPDFObjectHandle d = QPDFObjectHandle::newDictionary();
    QPDFObjectHandle fields = QPDFObjectHandle::newArray();
    fields.appendItem(qs::forward_reference(12));
    d.replaceKey("/Fields", fields);
    d.replaceKey("/V", qs::forward_reference(7));
    d.replaceKey("/Reason", QPDFObjectHandle::newString("see 3_0_R (and 4_0_R)"));
    d.replaceKey("/Font", QPDFObjectHandle::newName("/F_0_R"));
    d.replaceKey("/Z", QPDFObjectHandle::newName("/5_0_R"));
    std::string text = qs::serialize(d);
    const std::size_t before = text.size();
    EXPECT_EQ(qs::resolve_forward_references(text), 2);
    EXPECT_EQ(text.size(), before);
    EXPECT_EQ(text, "<< /Fields [ 12 0 R ] /Font /F_0_R /Reason (see 3_0_R \\(and 4_0_R\\)) "
                    "/V 7 0 R /Z /5_0_R >>");
}

TEST(XrefWriter, RunsBreakAtEveryGap) {
    const std::map<int, long> offsets{{1, 10}, {3, 20}, {7, 30}, {8, 40}, {9, 50}};
    const std::map<int, int> runs = qs::xref_runs(offsets);
    EXPECT_EQ(runs, (std::map<int, int>{{1, 1}, {3, 1}, {7, 3}, {8, -1}, {9, -1}}));
}

// New objects 7, 8, 9 and rewritten 1 and 3, in the classic form.
TEST(XrefWriter, ClassicSectionBytes) {
    UpdateWriter w(1000, 7, XrefForm::Table);
    w.append("\r\n");
    w.add_object(w.allocate(), "<< /A 1 >>");  // 7 at 1002
    w.add_object(w.allocate(), "<< >>");       // 8
    w.add_object(w.allocate(), "<< >>");       // 9
    w.add_object(1, "<< /Root true >>");
    w.add_object(3, "<< >>");
    EXPECT_EQ(w.offsets().at(7), 1002);
    const long section = w.offset();
    QPDFObjectHandle trailer = QPDFObjectHandle::newDictionary();
    trailer.replaceKey("/Prev", QPDFObjectHandle::newInteger(500));
    trailer.replaceKey("/Info", qs::forward_reference(9));
    trailer.replaceKey("/ID", QPDFObjectHandle::newArray());
    w.finish(trailer);
    const std::string &t = w.text();
    EXPECT_EQ(t.substr(0, 20), "\r\n7 0 obj\n<< /A 1 >>");
    const std::size_t at = static_cast<std::size_t>(section - 1000);
    const auto entry = [&](int number) {
        return qs::xref_line_offset(w.offsets().at(number)) + " 00000 n\r\n";
    };
    EXPECT_EQ(entry(7).size(), 20u);
    EXPECT_EQ(t.substr(at), "xref\n0 1\n0000000000 65535 f\r\n1 1\n" + entry(1) + "3 1\n" +
                                entry(3) + "7 3\n" + entry(7) + entry(8) + entry(9) +
                                "trailer\n<< /ID [ ] /Info 9 0 R /Prev 500 /Size 10 >>\n"
                                "startxref\n" + std::to_string(section) + "\n%%EOF\n");
}

TEST(XrefWriter, StreamSectionListsItself) {
    UpdateWriter w(4096, 20, XrefForm::Stream);
    w.append("\r\n");
    w.add_object(5, "<< >>");
    w.add_object(w.allocate(), "<< >>");  // 20
    w.add_object(w.allocate(), "<< >>");  // 21
    const long section = w.offset();
    QPDFObjectHandle trailer = QPDFObjectHandle::newDictionary();
    trailer.replaceKey("/Root", QPDFObjectHandle::newName("/R"));  // a stand-in value
    trailer.replaceKey("/Prev", QPDFObjectHandle::newInteger(77));
    trailer.replaceKey("/Info", qs::forward_reference(20));
    w.finish(trailer);
    EXPECT_EQ(w.next_number(), 23);
    EXPECT_EQ(w.offsets().at(22), section);
    const std::string entries = qs::xref_stream_entry(w.offsets().at(5)) +
                                qs::xref_stream_entry(w.offsets().at(20)) +
                                qs::xref_stream_entry(w.offsets().at(21)) +
                                qs::xref_stream_entry(section);
    const std::string tail = w.text().substr(static_cast<std::size_t>(section - 4096));
    EXPECT_EQ(tail, "22 0 obj\n<< /Index [ 5 1 20 3 ] /Info 20 0 R /Length 24 /Prev 77 /Root /R "
                    "/Size 23 /Type /XRef /W [ 1 4 1 ] >>\nstream\n" + entries +
                    "\nendstream\nendobj\nstartxref\n" + std::to_string(section) + "\n%%EOF\n");
}

}  // namespace
