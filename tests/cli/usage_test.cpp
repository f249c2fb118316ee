// Usage texts and the argument rules that lead to them, through the real program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/support.h"

namespace {

using qstest::run_cli;

const char *kSignUsage = "Usage:\nquillseal -i input.pdf -o output.pdf -p \"password\"";
const char *kLtvUsage =
    "Usage:\nquillseal addltv -i input.pdf -o output.pdf -z quillseal.conf -j <workers>\n";
const char *kListLine = "With -i - the input files are named on standard input, one per line, and go into the -o "
                        "directory as the files of an input directory do.\n";
const char *kWorkersLine = "If -i and -o are directories, -j N works on N files at once in separate processes; -j 0 uses "
                           "one process per processor.\n";
const char *kVerifyUsage = "Usage:\nquillseal verify -i input.pdf -z quillseal.conf\n";

void expect_usage(const std::vector<std::string> &args, const char *usage) {
    const auto r = run_cli(args);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("Quillseal v2.7.1, ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(usage), std::string::npos) << r.out;
}

TEST(Usage, SignUsageTextIsComplete) {
    const auto r = run_cli({"-h"});
    const std::string body = r.out.substr(r.out.find('\n') + 1);
    EXPECT_EQ(body,
              "Usage:\n"
              "quillseal -i input.pdf -o output.pdf -p \"password\" -l \"location\" -r \"reason\" -v <visible> "
              "-c <certify> -q <timestamp> -t \"title\" -a \"author\" -s \"subject\" -k \"keywords\" -z quillseal.conf "
              "-j <workers> -f \"field name\"\n"
              "\nOnly -i is required. If -o is missing the output file is the same as the input with \"-signed\" appended.\n"
              "With -f (or sigfield in the configuration; -f wins) the signature goes into the empty signature field "
              "of that fully qualified name, or into a new field of that name when the document has none.\n"
              "If -i and -o are directories all the PDF files in the input directory are signed and placed in the "
              "output directory, if not there yet.\n" +
                  std::string(kListLine) + kWorkersLine +
              "If -z is missing the configuration file \"/usr/local/quillseal/quillseal.conf\" is used instead.\n\n"
              "The password is the open document password, needed if the signed document is to be encrypted.\n"
              "\nThe configuration file can store an encrypted password for the PKCS#12 key store. The password can "
              "be encrypted from the command line with -e \"password\".\n");
}

TEST(Usage, HelpWordsPrintTheirCommandsUsage) {
    expect_usage({"-h"}, kSignUsage);
    expect_usage({"-anything"}, kSignUsage);
    expect_usage({"addltv"}, kLtvUsage);
    expect_usage({"addltv", "-h"}, kLtvUsage);
    expect_usage({"addltv", "-x"}, kLtvUsage);
    expect_usage({"verify"}, kVerifyUsage);
    expect_usage({"verify", "-h"}, kVerifyUsage);
}

TEST(Usage, AddltvAndVerifyTextsEndWithTheirNotes) {
    const auto l = run_cli({"addltv"}).out;
    EXPECT_NE(l.find(std::string("appended.\n") + kListLine + kWorkersLine + "If -z is missing"), std::string::npos) << l;
    EXPECT_NE(l.find("is used instead.\n\nThe input file needs to be already signed.\n"), std::string::npos);
    const auto v = run_cli({"verify"}).out;
    EXPECT_NE(v.find("\nOnly -i is required.\nIf -z is missing, and needed, the configuration file "
                     "\"/usr/local/quillseal/quillseal.conf\" is used instead.\n\n"),
              std::string::npos);
}

TEST(Usage, FlagsTakeNoValueSoTheValueIsUnrecognised) { expect_usage({"-i", "a.pdf", "-v", "1"}, kSignUsage); }

TEST(Usage, ValueOptionWithoutValuePrintsTheCommandsUsage) {
    expect_usage({"-i", "a.pdf", "-o"}, kSignUsage);
    expect_usage({"addltv", "-i"}, kLtvUsage);
}

TEST(Usage, UnknownOptionPrintsUsage) {
    expect_usage({"-i", "a.pdf", "-x", "y"}, kSignUsage);
    expect_usage({"verify", "-i", "a.pdf", "--what"}, kVerifyUsage);
}

TEST(Usage, EncryptOptionAllowsNoOtherOption) {
    expect_usage({"-e", "secret", "-v"}, kSignUsage);
    expect_usage({"-v", "-e", "secret"}, kSignUsage);
    expect_usage({"-e"}, kSignUsage);
}

TEST(Usage, NoInputPathPrintsUsage) { expect_usage({"-v", "-c"}, kSignUsage); }

TEST(Usage, OverlongValueIsRefusedWithAFailureLine) {
    const auto r = run_cli({"-i", std::string(300, 'a') + ".pdf"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind("-1#", 0), 0u) << r.out;
}

}  // namespace
