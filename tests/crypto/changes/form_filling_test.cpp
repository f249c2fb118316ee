// What comes after a signature in a form, judged by verify and report
// through the real program: filling unlocked text, choice and check-box
// fields is allowed as "form filling"; a locked field, a certification that
// allows no changes, or anything beyond the values and their appearances is
// not. Two parties sign in turns, another program among them, with filling
// between, and every signature stays valid.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;

std::string first_line(const std::string &out) { return out.substr(0, out.find('\n')); }

// The "changes" and "changes_detail" the report gives the signature of field.
std::string report_changes(const std::string &path, const std::string &field, const std::string &conf) {
    const std::string report = run_cli({"report", "-i", path, "-z", conf}).out;
    const std::size_t at = report.find("\"field\": \"" + field + "\"");
    if (at == std::string::npos) return report;
    const std::size_t changes = report.find("\"changes\": ", at), detail = report.find("\"changes_detail\": ", at);
    const auto value = [&](std::size_t from) {
        const std::size_t open = report.find('"', report.find(':', from)) + 1;
        std::string text;
        for (std::size_t i = open; i < report.size() && report[i] != '"'; ++i) text += report[i] == '\\' ? report[++i] : report[i];
        return text;
    };
    return value(changes) + ": " + value(detail);
}

TEST(FormFilling, LaterUpdatesAreJudgedByLocksAndFilling) {
    qstest::TempDir dir;
    const std::string conf = qstest::write_signing_config(dir);
    const std::string changed = "-1#Document signature verification fails [The document was changed after it was signed: ";
    const struct Case {
        const char *name;
        std::string lock, field;               // the template's approver lock; the field signed
        std::vector<std::string> sign_extra;   // more arguments of the signing run
        std::string siglock;
        std::vector<std::string> fill;         // the update after the signature
        std::string verdict;                   // of verify, after "changed after it was signed: "; empty: verified
        std::string report;                    // changes of the signature in the report
    } cases[] = {
        {"every kind of field filled", "", "parties.buyer", {}, "",
         {"amount=100 EUR", "notes=none", "agree=Yes", "country=FR", "--need-appearances", "false"}, "",
         "allowed: form filling"},
        {"locked field", "", "approver", {}, "", {"amount=5"}, "the locked field \"amount\"]",
         "disallowed: The document was changed after it was signed: the locked field \"amount\""},
        {"unlocked field beside a locked one", "", "approver", {}, "", {"notes=ok"}, "", "allowed: form filling"},
        {"everything locked", "all", "approver", {}, "", {"country=FR"}, "the locked field \"country\"]", ""},
        {"all but notes locked", "exclude:notes", "approver", {}, "", {"notes=ok"}, "", "allowed: form filling"},
        {"locked by siglock", "", "parties.seller", {}, "include:agree", {"agree=Yes"}, "the locked field \"agree\"]", ""},
        {"lock whose /P allows no changes", "include:amount/P1", "approver", {}, "", {"notes=x"},
         "the field \"notes\", which the certification allows no one to fill]", ""},
        {"certified", "", "parties.buyer", {"-c"}, "", {"amount=1"},
         "the field \"amount\", which the certification allows no one to fill]",
         "disallowed: The document was changed after it was signed: the field \"amount\", which the certification "
         "allows no one to fill"},
        {"moved widget", "", "parties.buyer", {}, "", {"amount=1", "--move", "amount"}, "the field \"amount\" (its /Rect)]", ""},
        {"appearance beyond its widget", "", "parties.buyer", {}, "", {"amount=1", "--wide", "amount"},
         "the appearance of the field \"amount\", which is not drawn within its widget]", ""},
        {"new widget", "", "parties.buyer", {}, "", {"notes=1", "--new-widget", "notes"}, "the field \"notes\" (its /Kids)]", ""},
        {"appearances left to readers", "", "parties.buyer", {}, "", {"--need-appearances", "true"},
         "the form entry /NeedAppearances]", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string form = qstest::make_form(dir, "form.pdf", c.lock), signed_pdf = dir.file("signed.pdf"),
                          filled = dir.file("filled.pdf");
        const std::string config = qstest::write_signing_config(dir, "signer.p12", c.siglock.empty() ? "" : "siglock=" + c.siglock + "\n");
        std::vector<std::string> args = {"-i", form, "-o", signed_pdf, "-z", config, "-f", c.field};
        args.insert(args.end(), c.sign_extra.begin(), c.sign_extra.end());
        ASSERT_EQ(first_line(run_cli(args).out).rfind("0#Document signed", 0), 0u);
        const auto fill = qstest::fill_form(signed_pdf, filled, c.fill);
        ASSERT_EQ(fill.status, 0) << fill.out;
        const std::string verified = first_line(run_cli({"verify", "-i", filled}).out);
        if (c.verdict.empty())
            EXPECT_EQ(verified, "0#Document signature verified [Signer: Test Signer]");
        else
            EXPECT_EQ(verified, changed + c.verdict);
        if (!c.report.empty()) {
            EXPECT_EQ(report_changes(filled, c.field, conf), c.report);
        }
        std::remove(signed_pdf.c_str());
        std::remove(filled.c_str());
    }
}

TEST(FormFilling, TwoPartiesSignInTurnsWithFillingBetween) {
    qstest::TempDir dir;
    const std::string conf = qstest::write_signing_config(dir, "signer.p12", "trustca=" + qstest::fixture("ca.pem") + "\n");
    const qstest::OtherSigner other(dir);
    if (!other.usable()) {
        std::printf("skipped (no NSS tools to sign with another program)\n");
        return;
    }
    const auto ours = [&](const std::string &field, const std::string &in, const std::string &out) {
        return first_line(run_cli({"-i", in, "-o", out, "-z", conf, "-f", field, "-v"}).out).rfind("0#", 0) == 0;
    };
    const auto theirs = [&](const std::string &field, const std::string &in, const std::string &out) {
        return other.sign(field, in, out).status == 0;
    };
    const struct {
        const char *name;
        std::function<bool(const std::string &, const std::string &, const std::string &)> first, second;
        std::string first_changes;
    } orders[] = {
        {"this program, then pdfsig", ours, theirs, "allowed: later signature, form filling"},
        {"pdfsig, then this program", theirs, ours, "allowed: later signature, information, form filling"},
    };
    for (const auto &order : orders) {
        SCOPED_TRACE(order.name);
        const std::string form = qstest::make_form(dir, "contract.pdf");
        const std::string one = dir.file("one.pdf"), filled = dir.file("filled.pdf"), two = dir.file("two.pdf"),
                          done = dir.file("done.pdf");
        ASSERT_TRUE(order.first("parties.buyer", form, one));
        ASSERT_EQ(qstest::fill_form(one, filled, {"amount=100 EUR", "agree=Yes"}).status, 0);
        ASSERT_TRUE(order.second("parties.seller", filled, two));
        ASSERT_EQ(qstest::fill_form(two, done, {"notes=delivered"}).status, 0);

        const std::string says = run_shell("pdfsig " + shell_quote(done) + " 2>&1").out;
        std::size_t valid = 0;
        for (std::size_t at = says.find("Signature is Valid"); at != std::string::npos; at = says.find("Signature is Valid", at + 1))
            ++valid;
        EXPECT_EQ(valid, 2u) << says;
        EXPECT_EQ(report_changes(done, "parties.buyer", conf), order.first_changes);
        EXPECT_EQ(report_changes(done, "parties.seller", conf), "allowed: form filling");
        EXPECT_EQ(run_cli({"report", "-i", done, "-z", conf}).status, 0);
        EXPECT_EQ(first_line(run_cli({"verify", "-i", done}).out), "0#Document signature verified [Signer: Test Signer]");
        for (const std::string &file : {one, filled, two, done}) std::remove(file.c_str());
    }
}

}  // namespace
