// The validation report through the real program (`quillseal report`), on
// documents made here: each PAdES level, several signatures with a
// certification among them, a page replaced after signing, a document signed
// by poppler's pdfsig, and signers that chain to the anchors or do not, whose
// certificate had expired or that the document's CRL revokes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <json-c/json.h>

#include <quillseal/quillseal.h>

#include "core/base/handles.h"
#include "crypto/crypto_support.h"
#include "crypto/revocation_service.h"

namespace {

using namespace cryptotest;
using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;
using qstest::TempDir;

// What one entry of the report must say; "" for pades and tsa means null or absent.
struct Expected {
    std::string kind, pades, changes, trust, revocation;
    std::vector<std::string> kinds = {};  // the kinds of allowed changes
    std::string tsa = "";                 // the signature timestamp's authority, when there is one
};

std::string text_of(json_object *object, const char *key) {
    json_object *value = nullptr;
    if (!json_object_object_get_ex(object, key, &value) || !value) return "";
    return json_object_get_string(value);
}

class Documents {
public:
    Documents() {
        char stored[600];
        encrypt_password(qstest::kStorePassword, stored);
        stored_ = stored;
        conf_ = conf("signer", "ETSI.CAdES.detached");
    }
    // A configuration for a store of the PKI, trusting the PKI's root.
    std::string conf(const std::string &store, const std::string &subfilter) {
        const std::string path = dir.file(store + "-" + subfilter + ".conf");
        qstest::write_file(path, "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + pki.file(store + ".p12") +
                                     "\ncertpasswd=" + stored_ + "\nsubfilter=" + subfilter + "\ntsaurl=" +
                                     pki.tsa_url() + "\ncachedir=" + dir.path() + "\ntrustca=" +
                                     pki.file("root/ca.pem") + "\n");
        return path;
    }
    // Runs the program and returns the output path it was asked to write.
    std::string make(const std::string &name, const std::vector<std::string> &args) {
        const std::string out = dir.file(name + ".pdf");
        std::vector<std::string> all = args;
        all.insert(all.end(), {"-o", out});
        const std::string line = run_cli(all).out;
        EXPECT_EQ(line.rfind("0#", 0), 0u) << name << ": " << line;
        return out;
    }
    std::string sign(const std::string &name, const std::string &in, const std::string &conf_path,
                     const std::vector<std::string> &extra = {}) {
        std::vector<std::string> args = {"-i", in, "-z", conf_path};
        args.insert(args.end(), extra.begin(), extra.end());
        return make(name, args);
    }
    std::string command(const std::string &name, const char *word, const std::string &in) {
        return make(name, {word, "-i", in, "-z", conf_});
    }
    // A signer of the intermediate whose certificate expired before today.
    std::string expired_store() {
        const auto made = run_shell(
            "cd " + shell_quote(pki.file("")) +
            " && openssl req -new -key signer.key -subj '/O=Quillseal Test/CN=LTV Expired Signer' -out expired.csr"
            " && openssl ca -batch -notext -config inter/ca.cnf -extfile ext.cnf -extensions signer"
            " -startdate 20200101000000Z -enddate 20210101000000Z -in expired.csr -out expired.pem"
            " && openssl pkcs12 -export -inkey signer.key -in expired.pem -certfile chain.pem -name expired"
            " -passout pass:" + std::string(qstest::kStorePassword) + " -out expired.p12 2>&1");
        EXPECT_EQ(made.status, 0) << made.out;
        return conf("expired", "ETSI.CAdES.detached");
    }
    // input signed by poppler's pdfsig with the fixture signer (an RSA key: pdfsig 22.12 fails now
    // and then with an EC key), through an NSS database made here.
    std::string signed_by_pdfsig(const std::string &input) {
        const std::string db = "sql:" + dir.file("nss"), out = dir.file("pdfsig.pdf");
        const auto made = run_shell("mkdir " + shell_quote(dir.file("nss")) + " && certutil -N -d " + shell_quote(db) +
                                    " --empty-password && pk12util -i " + shell_quote(qstest::fixture("signer.p12")) +
                                    " -d " + shell_quote(db) + " -W " + qstest::kStorePassword +
                                    " && pdfsig -nssdir " + shell_quote(db) +
                                    " -add-signature -nick signer -new-signature-field-name Approval " +
                                    shell_quote(input) + " " + shell_quote(out) + " 2>&1");
        EXPECT_EQ(made.status, 0) << made.out;
        return out;
    }
    // The contract of the reader tests signed, then its page replaced by a well-formed update.
    std::string page_replaced() {
        const std::string script = std::string(QS_SOURCE_DIR) + "/tests/support/reader_attacks.py";
        const std::string contract = dir.file("contract.pdf"), out = dir.file("replaced.pdf");
        EXPECT_EQ(run_shell("python3 " + shell_quote(script) + " contract table " + shell_quote(contract)).status, 0);
        const std::string signed_pdf = sign("contract-signed", contract, conf_);
        EXPECT_EQ(run_shell("python3 " + shell_quote(script) + " update page-content table " +
                            shell_quote(signed_pdf) + " " + shell_quote(out)).status,
                  0);
        return out;
    }

    RevocationService pki;
    TempDir dir;
    std::string conf_;

private:
    std::string stored_;
};

void expect_report(const std::string &name, const std::string &pdf, const std::string &conf,
                   const std::vector<Expected> &expected) {
    SCOPED_TRACE(name);
    const auto r = run_cli({"report", "-i", pdf, "-z", conf});
    qs::JsonPtr root(json_tokener_parse(r.out.c_str()));
    ASSERT_TRUE(root) << r.out;
    json_object *signatures = nullptr;
    ASSERT_TRUE(json_object_object_get_ex(root.get(), "signatures", &signatures)) << r.out;
    ASSERT_EQ(json_object_array_length(signatures), expected.size()) << r.out;
    bool all_valid = true;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        json_object *entry = json_object_array_get_idx(signatures, i);
        const Expected &e = expected[i];
        EXPECT_EQ(text_of(entry, "kind"), e.kind);
        EXPECT_EQ(text_of(entry, "intact"), "true") << text_of(entry, "intact_detail");
        EXPECT_EQ(text_of(entry, "changes"), e.changes) << text_of(entry, "changes_detail");
        EXPECT_EQ(text_of(entry, "trust"), e.trust) << text_of(entry, "trust_detail");
        EXPECT_EQ(text_of(entry, "revocation"), e.revocation) << text_of(entry, "revocation_detail");
        EXPECT_EQ(text_of(entry, "pades"), e.pades);
        json_object *kinds = nullptr;
        json_object_object_get_ex(entry, "changes_kinds", &kinds);
        std::vector<std::string> got;
        for (std::size_t k = 0; kinds && k < json_object_array_length(kinds); ++k)
            got.push_back(json_object_get_string(json_object_array_get_idx(kinds, k)));
        EXPECT_EQ(got, e.kinds);
        json_object *timestamp = nullptr;
        json_object_object_get_ex(entry, "timestamp", &timestamp);
        EXPECT_EQ(timestamp != nullptr, !e.tsa.empty());
        if (timestamp) {
            EXPECT_EQ(text_of(timestamp, "intact"), "true");
            EXPECT_NE(text_of(timestamp, "tsa").find(e.tsa), std::string::npos);
            EXPECT_EQ(text_of(timestamp, "trusted"), "true");
        }
        EXPECT_GT(std::stol(text_of(entry, "revision_end")), 0);
        all_valid = all_valid && e.changes != "disallowed" && e.trust == "trusted";
    }
    EXPECT_EQ(text_of(root.get(), "valid"), all_valid ? "true" : "false");
    EXPECT_EQ(r.status, all_valid ? 0 : 1);
}

TEST(Report, EverySignatureIsJudgedAsValidatorsWould) {
    Documents d;
    const std::string page = qstest::fixture("one-page.pdf");
    const std::string tsa = "CN=LTV Time-Stamping Authority";
    const std::string bb = d.sign("b-b", page, d.conf_);
    const std::string bt = d.sign("b-t", page, d.conf_, {"-q"});
    const std::string lt = d.command("b-lt", "addltv", bt);
    const std::string lta = d.command("b-lta", "timestamp", lt);
    const std::string adbe = d.conf("signer", "adbe.pkcs7.detached");
    const std::string two = d.sign("two", d.sign("one", page, adbe), d.conf("second", "adbe.pkcs7.detached"));
    const std::string certified = d.sign("certified", page, adbe, {"-c"});
    const std::string three = d.command("three", "timestamp", d.command("certified-ts", "timestamp", certified));
    const std::string revoked = d.command("revoked-ltv", "addltv",
                                          d.sign("revoked", page, d.conf("revoked", "ETSI.CAdES.detached")));
    const std::string expired = d.sign("expired", page, d.expired_store(), {"-q"});
    const std::string other_ca = qstest::write_signing_config(d.dir, "signer.p12", "trustca=" + d.pki.file("root/ca.pem") + "\n", "other.conf");
    const std::string untrusted = d.sign("untrusted", page, other_ca);

    const Expected approval{"approval", "", "none", "trusted", "unknown"};
    const std::vector<std::string> info_and_signature = {"later signature", "information"};
    // The fixture signer's anchor is the fixture CA.
    const std::string fixture_anchor =
        qstest::write_signing_config(d.dir, "signer.p12", "trustca=" + qstest::fixture("ca.pem") + "\n", "fixture.conf");
    struct Case {
        const char *name;
        std::string pdf;
        std::vector<Expected> entries;
        std::string conf = "";  // the PKI's configuration when empty
    } cases[] = {
        {"B-B", bb, {{"approval", "B-B", "none", "trusted", "unknown"}}},
        {"B-T", bt, {{"approval", "B-T", "none", "trusted", "unknown", {}, tsa}}},
        {"B-LT", lt, {{"approval", "B-LT", "allowed", "trusted", "good", {"validation data"}, tsa}}},
        {"B-LTA",
         lta,
         {{"approval", "B-LTA", "allowed", "trusted", "good", {"validation data", "document timestamp"}, tsa},
          {"timestamp", "", "none", "trusted", "good"}}},
        // The archived responses cover the signers, not their intermediate.
        {"two signatures", two, {{"approval", "", "allowed", "trusted", "unknown", info_and_signature}, approval}},
        {"a certification and two document timestamps",
         three,
         {{"certification", "", "allowed", "trusted", "unknown", {"document timestamp"}},
          {"timestamp", "", "allowed", "trusted", "unknown", {"document timestamp"}},
          {"timestamp", "", "none", "trusted", "unknown"}}},
        {"page replaced after signing", d.page_replaced(), {{"approval", "B-B", "disallowed", "trusted", "unknown"}}},
        {"signed by pdfsig", d.signed_by_pdfsig(page), {{"approval", "", "none", "trusted", "unknown"}}, fixture_anchor},
        {"revoked by the store's CRL", revoked, {{"approval", "B-B", "allowed", "revoked", "revoked", {"validation data"}}}},
        {"expired at signing time", expired, {{"approval", "B-T", "none", "expired", "unknown", {}, tsa}}},
        {"a signer of other anchors", untrusted, {{"approval", "", "none", "untrusted", "unknown"}}},
    };
    for (const Case &c : cases) expect_report(c.name, c.pdf, c.conf.empty() ? d.conf_ : c.conf, c.entries);

    // A document that cannot be read gets its status line and 255.
    const auto unreadable = run_cli({"report", "-i", d.dir.file("conf-as-pdf.pdf"), "-z", d.conf_});
    EXPECT_EQ(unreadable.out.rfind("-1#", 0), 0u) << unreadable.out;
    EXPECT_EQ(unreadable.status, 255);
}

}  // namespace
