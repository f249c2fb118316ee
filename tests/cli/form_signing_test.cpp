// Signing the forms others prepared, through the real program: a template
// with nested names, widgets on page 2, a hidden widget and a locked field is
// signed into its named fields on every route; fields it cannot sign in are
// refused; fields are listed, added for later signers and signed there by
// another program; and a field's lock goes into its signature.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "pdf/field_tree.h"
#include "pdf/qpdf_api.h"
#include "support/soft_token.h"

namespace {

using qstest::fixture;
using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;

// What a field's widget shows: its object, place and flags, and its appearance's box.
struct Widget {
    int object = 0, page = 0;
    std::string rect, flags, box;
    bool valued = false;
    bool operator==(const Widget &o) const {
        return object == o.object && page == o.page && rect == o.rect && flags == o.flags;
    }
};

Widget widget_of(const std::string &path, const std::string &name, const std::string &password = "") {
    QPDF pdf;
    pdf.processFile(path.c_str(), password.c_str());
    qs::NamedField found = qs::find_field(pdf.getRoot(), name);
    Widget w;
    if (found.kind != qs::NamedField::Kind::Terminal) return w;
    QPDFObjectHandle widget = found.field.widgets.front();
    w.object = widget.getObjectID();
    w.page = qs::widget_page(pdf, widget);
    w.rect = widget.getKey("/Rect").unparse();
    w.flags = widget.getKey("/F").unparse();
    QPDFObjectHandle normal = widget.getKey("/AP").isDictionary() ? widget.getKey("/AP").getKey("/N")
                                                                   : QPDFObjectHandle::newNull();
    if (normal.isStream()) w.box = normal.getDict().getKey("/BBox").unparse();
    w.valued = qs::field_value(found.field).isDictionary();
    return w;
}

// What pdfsig says of the field: its lines up to the next field.
std::string pdfsig_says(const std::string &path, const std::string &name, const std::string &password = "") {
    const std::string out =
        run_shell("pdfsig " + (password.empty() ? "" : "-upw " + password + " ") + shell_quote(path) + " 2>&1").out;
    const std::size_t at = out.find("Signature Field Name: " + name + "\n");
    if (at == std::string::npos) return out;
    return out.substr(at, out.find("Signature #", at) - at);
}

bool valid_and_whole(const std::string &says) {
    return says.find("Signature is Valid") != std::string::npos &&
           says.find("Total document signed") != std::string::npos;
}

std::string first_line(const std::string &out) { return out.substr(0, out.find('\n')); }

class FormSigning : public ::testing::Test {
protected:
    qstest::TempDir dir;
    const std::string form = qstest::make_form(dir, "contract.pdf");
    const std::string conf = clitest::write_config(dir);
};

TEST_F(FormSigning, SignsIntoTheNamedFieldOnEveryRoute) {
    const std::string in_dir = dir.file("in"), out_dir = dir.file("out");
    run_shell("mkdir " + shell_quote(in_dir) + " " + shell_quote(out_dir) + " && cp " + shell_quote(form) + " " +
              shell_quote(in_dir + "/contract.pdf"));
    qstest::SoftToken token(dir);
    ASSERT_EQ(token.problem(), "");
    token.activate();
    const std::string device = token.write_config(dir, "device.conf", "pkcs11:token=qs;object=signer");
    const std::string buyer_conf = clitest::write_config(dir, "signer.p12", "sigfield=parties.buyer\n");
    const std::string tool = shell_quote(QS_TWO_PHASE_TOOL);
    const auto cli = [](std::vector<std::string> args) { return [args](const std::string &) { return run_cli(args).out; }; };
    struct Case {
        const char *name;
        std::string field;
        bool visible;
        std::string out, password;
        std::function<std::string(const std::string &)> sign;
        std::string line;  // the start of the status line
    } cases[] = {
        {"one file, nested name on page 2, drawn", "parties.seller", true, dir.file("one.pdf"), "",
         cli({"-i", form, "-o", dir.file("one.pdf"), "-z", conf, "-f", "parties.seller", "-v"}), "0#Document signed"},
        {"-f wins over sigfield=, hidden widget", "witness", false, dir.file("wins.pdf"), "",
         cli({"-i", form, "-o", dir.file("wins.pdf"), "-z", buyer_conf, "-f", "witness"}), "0#Document signed"},
        {"sigfield= alone", "parties.buyer", true, dir.file("key.pdf"), "",
         cli({"-i", form, "-o", dir.file("key.pdf"), "-z", buyer_conf, "-v"}), "0#Document signed"},
        {"directory with workers", "approver", false, out_dir + "/contract.pdf", "",
         cli({"-i", in_dir, "-o", out_dir, "-z", conf, "-f", "approver", "-j", "2"}), "0#Document signed"},
        {"list on standard input", "parties.seller", false, dir.file("listed/contract.pdf"), "",
         [&](const std::string &) {
             run_shell("mkdir " + shell_quote(dir.file("listed")));
             return run_shell("echo " + shell_quote(form) + " | " + shell_quote(QS_CLI_PATH) + " -i - -o " +
                              shell_quote(dir.file("listed")) + " -z " + shell_quote(conf) + " -f parties.seller")
                 .out;
         },
         "0#Document signed"},
        {"encrypted output", "parties.seller", true, dir.file("enc.pdf"), "secret",
         cli({"-i", form, "-o", dir.file("enc.pdf"), "-z", conf, "-f", "parties.seller", "-v", "-p", "secret"}),
         "0#Document signed"},
        {"PKCS#11 token", "approver", true, dir.file("token.pdf"), "",
         cli({"-i", form, "-o", dir.file("token.pdf"), "-z", device, "-f", "approver", "-v"}), "0#Document signed"},
        {"two phases", "parties.buyer", false, dir.file("two.pdf"), "",
         [&](const std::string &out) {
             const auto answer = [](const std::string &command) {
                 const std::string line = first_line(run_shell(command).out);
                 return line.substr(line.find('#') + 1);
             };
             const std::string digest = answer(tool + " start " + shell_quote(form) + " " + shell_quote(out) + " " +
                                               shell_quote(buyer_conf));
             const std::string signature = answer(tool + " hash " + shell_quote(conf) + " " + digest);
             return run_shell(tool + " end " + shell_quote(out) + " " + signature).out;
         },
         "0#Document signed"},
        {"a name no field has is made", "contract.notary", true, dir.file("new.pdf"), "",
         cli({"-i", form, "-o", dir.file("new.pdf"), "-z", conf, "-f", "contract.notary", "-v"}),
         "0#Document signed: input[" + form + "] output[" + dir.file("new.pdf") + "] new field[contract.notary]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = c.sign(c.out);
        EXPECT_EQ(first_line(out).rfind(c.line, 0), 0u) << out;
        const std::string says = pdfsig_says(c.out, c.field, c.password);
        EXPECT_TRUE(valid_and_whole(says)) << says;
        const Widget was = widget_of(form, c.field), now = widget_of(c.out, c.field, c.password);
        EXPECT_TRUE(now.valued);
        if (was.object != 0) {
            // The widget keeps its object, place and flags; it is drawn into its own rectangle.
            EXPECT_TRUE(was == now) << now.rect << " " << now.flags;
            QPDFObjectHandle rect = QPDFObjectHandle::parse(was.rect);
            const std::string size = "[ 0 0 " + std::to_string(rect.getArrayItem(2).getIntValue() - rect.getArrayItem(0).getIntValue()) +
                                     " " + std::to_string(rect.getArrayItem(3).getIntValue() - rect.getArrayItem(1).getIntValue()) + " ]";
            EXPECT_EQ(now.box, c.visible ? size : was.box);
        }
        if (c.password.empty()) {
            EXPECT_EQ(run_cli({"verify", "-i", c.out}).out.rfind("0#Document signature verified", 0), 0u);
        }
    }
}

TEST_F(FormSigning, RefusesFieldsItCannotSignInAndWritesNothing) {
    const std::string signed_pdf = dir.file("signed.pdf"), approved = dir.file("approved.pdf");
    ASSERT_EQ(first_line(run_cli({"-i", form, "-o", signed_pdf, "-z", conf, "-f", "parties.buyer"}).out).rfind("0#", 0), 0u);
    // The approver locks every field, so no later signature may go into one.
    const std::string locked_form = qstest::make_form(dir, "locked.pdf", "all");
    ASSERT_EQ(first_line(run_cli({"-i", locked_form, "-o", approved, "-z", conf, "-f", "approver"}).out).rfind("0#", 0), 0u);
    const struct {
        std::string input, field, line;
    } cases[] = {
        {signed_pdf, "parties.buyer", "-1#The signature field \"parties.buyer\" is signed already.\n"},
        {form, "amount", "-1#The field \"amount\" is not a signature field.\n"},
        {form, "parties", "-1#The field \"parties\" holds other fields; name the signature field among them.\n"},
        {form, "amount.total", "-1#The field \"amount\" holds no other fields, so no field \"amount.total\" can be made below it.\n"},
        {form, "Signature1", ""},  // "Signature10" is no match: a new field is made
        {approved, "parties.seller", "-1#The signature field \"parties.seller\" is locked by a signature of the document.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.field);
        const std::string out = dir.file("refused.pdf");
        const auto r = run_cli({"-i", c.input, "-o", out, "-z", conf, "-f", c.field});
        if (c.line.empty()) {
            EXPECT_NE(r.out.find("new field[Signature1]"), std::string::npos) << r.out;
            std::remove(out.c_str());
            continue;
        }
        EXPECT_EQ(r.out, c.line);
        EXPECT_EQ(r.status, 255);
        EXPECT_FALSE(qstest::file_exists(out));
    }
}

TEST_F(FormSigning, FieldsAreListedAndAddedForSignersWhoComeLater) {
    const std::string lock_conf = clitest::write_config(dir, "signer.p12", "siglock=exclude:notes\n");
    const std::string one = fixture("one-page.pdf"), added = dir.file("added.pdf"), nested = dir.file("nested.pdf");
    const auto added_line = [](const std::string &in, const std::string &out) {
        return "0#Signature field added: input[" + in + "] output[" + out + "]\n";
    };
    EXPECT_EQ(run_cli({"addfield", "-i", one, "-o", added, "-f", "notary", "-g", "1/100,100,300,150", "-z", lock_conf}).out,
              added_line(one, added));
    EXPECT_EQ(run_cli({"addfield", "-i", form, "-o", nested, "-f", "parties.guarantor", "-g", "2/100,200,300,250"}).out,
              added_line(form, nested));
    EXPECT_EQ(run_cli({"addfield", "-i", nested, "-o", dir.file("deeper.pdf"), "-f", "annex.a.seal", "-g",
                       "1/10,10,60,40"}).status, 0);

    std::string listed = run_cli({"fields", "-i", dir.file("deeper.pdf")}).out;
    listed.erase(std::remove_if(listed.begin(), listed.end(), [](char c) { return c == ' ' || c == '\n'; }), listed.end());
    EXPECT_EQ(listed,
              "[{\"name\":\"annex.a.seal\",\"page\":1,\"rect\":[10,10,60,40],\"signed\":false,\"signer\":null,\"lock\":null},"
              "{\"name\":\"parties.buyer\",\"page\":1,\"rect\":[50,600,250,660],\"signed\":false,\"signer\":null,\"lock\":null},"
              "{\"name\":\"parties.seller\",\"page\":2,\"rect\":[300,100,500,160],\"signed\":false,\"signer\":null,\"lock\":null},"
              "{\"name\":\"parties.guarantor\",\"page\":2,\"rect\":[100,200,300,250],\"signed\":false,\"signer\":null,\"lock\":null},"
              "{\"name\":\"witness\",\"page\":1,\"rect\":[50,50,150,80],\"signed\":false,\"signer\":null,\"lock\":null},"
              "{\"name\":\"approver\",\"page\":1,\"rect\":[300,600,500,660],\"signed\":false,\"signer\":null,"
              "\"lock\":{\"action\":\"Include\",\"fields\":[\"amount\"]}},"
              "{\"name\":\"Signature10\",\"page\":1,\"rect\":[0,0,0,0],\"signed\":false,\"signer\":null,\"lock\":null}]");
    EXPECT_EQ(run_cli({"fields", "-i", dir.file("missing.pdf")}).status, 255);

    // Another program signs in the fields added here, and verify accepts its signatures.
    const qstest::OtherSigner other(dir);
    if (!other.usable()) {
        std::printf("skipped (no NSS tools to sign with another program)\n");
    } else {
        for (const auto &[in, field] : {std::make_pair(added, std::string("notary")),
                                        std::make_pair(nested, std::string("parties.guarantor"))}) {
            const std::string out = in + "-pdfsig.pdf";
            ASSERT_EQ(other.sign(field, in, out).status, 0);
            EXPECT_TRUE(valid_and_whole(pdfsig_says(out, field))) << field;
            EXPECT_EQ(run_cli({"verify", "-i", out}).out, "0#Document signature verified [Signer: Test Signer]\n");
            EXPECT_NE(run_cli({"fields", "-i", out}).out.find("\"signer\": \"Test Signer\""), std::string::npos);
        }
    }

    const std::string signed_pdf = dir.file("signed.pdf");
    run_cli({"-i", one, "-o", signed_pdf, "-z", conf});
    const struct {
        std::string input, field, placement, conf, line;
    } refusals[] = {
        {form, "parties.buyer", "1/1,1,20,20", "", "-1#The form has a field named \"parties.buyer\" already.\n"},
        {form, "amount.total", "1/1,1,20,20", "",
         "-1#The field \"amount\" holds no other fields, so no field \"amount.total\" can be made below it.\n"},
        {one, "x", "2/1,1,20,20", "", "-1#The document has no page 2; it has 1.\n"},
        {one, "x", "1/30,1,20,20", "",
         "-1#The rectangle 30,1,20,20 is empty or inverted: give the lower-left corner, then the upper-right one.\n"},
        {one, "x", "1/1,1,20", "",
         "-1#addfield needs the page and rectangle of the new field as -g PAGE/LLX,LLY,URX,URY (whole numbers): 1/1,1,20\n"},
        {signed_pdf, "x", "1/1,1,20,20", "",
         "-1#The document is signed already: a new field would be a change its signatures do not allow.\n"},
        {one, "x", "1/1,1,20,20", clitest::write_config(dir, "signer.p12", "siglock=some\n"),
         "-1#The siglock value \"some\" is none of all, include:NAMES and exclude:NAMES.\n"},
    };
    for (const auto &r : refusals) {
        SCOPED_TRACE(r.line);
        const std::string out = dir.file("refused.pdf");
        std::vector<std::string> args = {"addfield", "-i", r.input, "-o", out, "-f", r.field, "-g", r.placement};
        if (!r.conf.empty()) args.insert(args.end(), {"-z", r.conf});
        const auto run = run_cli(args);
        EXPECT_EQ(run.out, r.line);
        EXPECT_EQ(run.status, 255);
        EXPECT_FALSE(qstest::file_exists(out));
    }
}

TEST_F(FormSigning, ASignatureCarriesTheLocksOfItsField) {
    const struct {
        std::string lock, siglock, references;
    } cases[] = {
        {"", "", "[ << /Action /Include /Fields [ (amount) ] /Type /TransformParams /V /1.2 >> ]"},
        {"all", "", "[ << /Action /All /Type /TransformParams /V /1.2 >> ]"},
        {"exclude:notes,parties", "",
         "[ << /Action /Exclude /Fields [ (notes) (parties) ] /Type /TransformParams /V /1.2 >> ]"},
        {"include:amount/P2", "",
         "[ << /Action /Include /Fields [ (amount) ] /Type /TransformParams /V /1.2 >> "
         "<< /P 2 /Type /TransformParams /V /1.2 >> ]"},
        {"", "include:country",
         "[ << /Action /Include /Fields [ (amount) ] /Type /TransformParams /V /1.2 >> "
         "<< /Action /Include /Fields [ (country) ] /Type /TransformParams /V /1.2 >> ]"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lock + " " + c.siglock);
        const std::string in = qstest::make_form(dir, "locked.pdf", c.lock), out = dir.file("locked-signed.pdf");
        const std::string config = clitest::write_config(dir, "signer.p12", c.siglock.empty() ? "" : "siglock=" + c.siglock + "\n");
        ASSERT_EQ(first_line(run_cli({"-i", in, "-o", out, "-z", config, "-f", "approver"}).out).rfind("0#", 0), 0u);
        QPDF pdf;
        pdf.processFile(out.c_str());
        QPDFObjectHandle value = qs::field_value(qs::find_field(pdf.getRoot(), "approver").field);
        std::string params = "[";
        for (QPDFObjectHandle reference : value.getKey("/Reference").aitems()) {
            EXPECT_EQ(reference.getKey("/Data").getObjGen(), pdf.getRoot().getObjGen());
            params += " " + reference.getKey("/TransformParams").unparse();
        }
        EXPECT_EQ(params + " ]", c.references);
        EXPECT_TRUE(valid_and_whole(pdfsig_says(out, "approver")));
        std::remove(out.c_str());
    }
}

}  // namespace
