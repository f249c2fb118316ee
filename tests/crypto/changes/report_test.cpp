// The validation report through the real program (`quillseal report`), on
// documents made here: each PAdES level, several signatures with a
// certification among them, a page replaced after signing, a document signed
// by poppler's pdfsig, and signers that chain to the anchors or do not, whose
// certificate had expired or that the document's CRL revokes. Then what an
// attacker makes of such documents: timestamps swapped for ones of
// authorities that may not stamp, later signatures that verify over nothing,
// changes a certification forbids, and CRLs whose scope leaves the signer out.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include <json-c/json.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <quillseal/quillseal.h>

#include "core/base/handles.h"
#include "crypto/changes/verify_documents.h"
#include "crypto/crypto_support.h"
#include "crypto/der.h"
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

json_object *report_of(const std::string &pdf, const std::string &conf, std::string &out) {
    out = run_cli({"report", "-i", pdf, "-z", conf}).out;
    return json_tokener_parse(out.c_str());
}

json_object *entry_of(json_object *root, std::size_t index) {
    json_object *signatures = nullptr;
    json_object_object_get_ex(root, "signatures", &signatures);
    return signatures && index < json_object_array_length(signatures) ? json_object_array_get_idx(signatures, index)
                                                                        : nullptr;
}

json_object *member(json_object *object, const char *key) {
    json_object *value = nullptr;
    return object && json_object_object_get_ex(object, key, &value) ? value : nullptr;
}

std::string sha256(const std::string &bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char *>(digest), length);
}

// A time as an ASN.1 GeneralizedTime text.
std::string generalized(std::time_t time) {
    struct tm parts {};
    char text[32] = "";
    gmtime_r(&time, &parts);
    std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &parts);
    return text;
}

std::string not_before(const std::string &pem) {
    qs::X509Ptr cert(PEM_read_X509(qs::open_file(pem.c_str(), "r").get(), nullptr, nullptr, nullptr));
    struct tm parts {};
    EXPECT_TRUE(cert && ASN1_TIME_to_tm(X509_get0_notBefore(cert.get()), &parts) == 1);
    return generalized(timegm(&parts));
}

// A timestamp token over the SHA-256 imprint, dated at, that the certificate
// and key prefix.pem and prefix.key signed: made as an authority would make
// one, whether or not the certificate may stamp.
std::string forged_token(const RevocationService &pki, const std::string &imprint, const std::string &at,
                         const std::string &prefix) {
    TempDir work;
    qstest::write_file(work.file("tst.cnf"),
                       "asn1=SEQUENCE:tst\n[tst]\nversion=INTEGER:1\npolicy=OID:1.2.3.4.1\nimprint=SEQUENCE:imprint\n"
                       "serial=INTEGER:4711\ntime=GENERALIZEDTIME:" + at +
                           "\n[imprint]\nalgorithm=SEQUENCE:algorithm\ndigest=FORMAT:HEX,OCTETSTRING:" +
                           qstest::to_hex(imprint) + "\n[algorithm]\noid=OID:sha256\nparameters=NULL\n");
    const auto made = run_shell("cd " + shell_quote(work.path()) +
                                " && openssl asn1parse -genconf tst.cnf -noout -out tst.der && openssl cms -sign -nodetach"
                                " -binary -nosmimecap -md sha256 -econtent_type id-smime-ct-TSTInfo -signer " +
                                shell_quote(prefix + ".pem") + " -inkey " + shell_quote(prefix + ".key") +
                                " -certfile " + shell_quote(pki.file("chain.pem")) +
                                " -in tst.der -outform DER -out token.der 2>&1");
    EXPECT_EQ(made.status, 0) << made.out;
    return qstest::read_file(work.file("token.der"));
}

// The newest signature's /ByteRange.
std::vector<long> newest_range(const std::string &pdf) {
    qs::FilePtr file = qs::open_file(pdf.c_str(), "rb");
    long range[4] = {0, 0, 0, 0};
    int object = 0;
    EXPECT_EQ(qpdf_get_byte_range(file.get(), "", range, &object), 0);
    return {range[0], range[1], range[2], range[3]};
}

// pdf with the newest signature's /Contents holding der instead, as out.
std::string with_contents(const std::string &pdf, const std::string &out, const std::string &der) {
    std::string bytes = qstest::read_file(pdf);
    const std::vector<long> range = newest_range(pdf);
    std::string hex = qstest::to_hex(der);
    const std::size_t room = static_cast<std::size_t>(range[2] - range[1] - 2);
    EXPECT_LE(hex.size(), room);
    hex.resize(room, '0');
    bytes.replace(static_cast<std::size_t>(range[1] + 1), hex.size(), hex);
    qstest::write_file(out, bytes);
    return out;
}

qs::CmsPtr newest_cms(const std::string &pdf) {
    const std::string der = newest_signature_der(pdf);
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(der.data());
    return qs::CmsPtr(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
}

CMS_SignerInfo *first_signer_info(CMS_ContentInfo *cms) {
    return cms ? sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms), 0) : nullptr;
}

// The imprint a signature timestamp of the newest signature carries: SHA-256 of its signature value.
std::string signature_value_imprint(const std::string &pdf) {
    qs::CmsPtr cms = newest_cms(pdf);
    const ASN1_OCTET_STRING *value = CMS_SignerInfo_get0_signature(first_signer_info(cms.get()));
    return sha256(std::string(reinterpret_cast<const char *>(ASN1_STRING_get0_data(value)),
                              static_cast<std::size_t>(ASN1_STRING_length(value))));
}

// pdf with the newest signature's timestamp token swapped for token: the
// unsigned attribute lies outside what the signature signs.
std::string with_signature_token(const std::string &pdf, const std::string &out, const std::string &token) {
    qs::CmsPtr cms = newest_cms(pdf);
    CMS_SignerInfo *si = first_signer_info(cms.get());
    const int at = si ? CMS_unsigned_get_attr_by_NID(si, NID_id_smime_aa_timeStampToken, -1) : -1;
    EXPECT_GE(at, 0);
    ASN1_TYPE *value = X509_ATTRIBUTE_get0_type(CMS_unsigned_get_attr(si, at), 0);
    ASN1_STRING_set(value->value.sequence, token.data(), static_cast<int>(token.size()));
    return with_contents(pdf, out, qs::der_of<CMS_ContentInfo, i2d_CMS_ContentInfo>(cms.get()));
}

// A document timestamp (the newest signature of pdf) whose token the
// certificate prefix made over the very bytes it covers.
std::string with_document_token(const RevocationService &pki, const std::string &pdf, const std::string &out,
                                const std::string &prefix) {
    const std::string bytes = qstest::read_file(pdf);
    const std::vector<long> range = newest_range(pdf);
    const std::string covered = bytes.substr(0, static_cast<std::size_t>(range[1])) +
                                bytes.substr(static_cast<std::size_t>(range[2]));
    return with_contents(pdf, out, forged_token(pki, sha256(covered), generalized(std::time(nullptr)), prefix));
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

// A timestamp's time counts only when the timestamp may be believed: its
// authority's certificate chains to the anchors and is one for time-stamping
// alone. A signature timestamp lies outside what the signature signs, so
// anyone may swap it; a signer revoked or expired since is then still called
// so, and the PAdES level counts only timestamps that may be believed.
TEST(Report, OnlyATrustedTimestampMovesTheTimeOfJudgement) {
    Documents d;
    RevocationService &pki = d.pki;
    const std::string page = qstest::fixture("one-page.pdf"), start = not_before(pki.file("inter/ca.pem"));
    // Signers whose certificates began when the intermediate did: one revoked a
    // second later, one that lapsed at once. Authorities that may not stamp.
    qstest::write_file(pki.file("stamps.cnf"),
                       "[loose]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                       "extendedKeyUsage=timeStamping\n[wide]\nbasicConstraints=CA:FALSE\n"
                       "keyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping,emailProtection\n");
    const std::string issue = " && openssl ca -batch -notext -config inter/ca.cnf -extfile ext.cnf -extensions signer "
                              "-startdate " + start;
    const auto made = run_shell(
        "cd " + shell_quote(pki.file("")) +
        " && openssl req -new -key signer.key -subj '/O=Quillseal Test/CN=LTV Later Revoked' -out late.csr" + issue +
        " -in late.csr -out late.pem && cp signer.key late.key && openssl req -new -key signer.key -subj '/O=Quillseal Test/CN=LTV Lapsed'"
        " -out lapsed.csr" + issue + " -enddate $(date -u +%Y%m%d%H%M%SZ) -in lapsed.csr -out lapsed.pem"
        " && for s in late lapsed; do openssl pkcs12 -export -inkey signer.key -in $s.pem -certfile chain.pem"
        " -passout pass:" + std::string(qstest::kStorePassword) + " -out $s.p12 || exit 1; done"
        " && for s in loose wide; do openssl req -new -key signer.key -subj \"/CN=Stamper $s\" -out $s.csr"
        " && openssl ca -batch -notext -config inter/ca.cnf -extfile stamps.cnf -extensions $s -in $s.csr"
        " -out $s.pem && cp signer.key $s.key || exit 1; done"
        " && openssl req -x509 -new -key signer.key -subj '/CN=Forged Time-Stamping Authority' -days 30"
        " -addext extendedKeyUsage=critical,timeStamping -out forged.pem && cp signer.key forged.key && sleep 1"
        " && openssl ca -batch -config inter/ca.cnf -revoke late.pem && openssl ca -batch -gencrl -config inter/ca.cnf"
        " -out inter/crl.pem && openssl crl -in inter/crl.pem -outform DER -out crl/inter.crl 2>&1");
    ASSERT_EQ(made.status, 0) << made.out;

    const std::string bt = d.sign("b-t", page, d.conf_, {"-q"});
    const std::string revoked = d.command("late-ltv", "addltv", d.sign("late", page, d.conf("late", "ETSI.CAdES.detached"), {"-q"}));
    const std::string lapsed = d.sign("lapsed", page, d.conf("lapsed", "ETSI.CAdES.detached"), {"-q"});
    const std::string now = generalized(std::time(nullptr));
    const auto swapped = [&](const std::string &pdf, const std::string &name, const std::string &at,
                             const std::string &stamper) {
        return with_signature_token(pdf, d.dir.file(name + ".pdf"),
                                    forged_token(pki, signature_value_imprint(pdf), at, pki.file(stamper)));
    };
    const std::string lta = d.command("lta", "timestamp", d.command("lt", "addltv", bt));

    const std::string no_usage = "has no extended key usage timeStamping";
    struct Look {
        std::size_t entry;
        std::string trust;   // the entry's trust
        std::string stamp;   // its timestamp's "trusted"; "" for a document timestamp
        std::string detail;  // in the timestamp's trust_detail (the entry's for a document timestamp)
        std::string pades = "";
    };
    struct Case {
        const char *name;
        std::string pdf;
        std::vector<Look> looks;
        bool valid;
    } cases[] = {
        {"a token of the PKI's authority", bt, {{0, "trusted", "true", "", "B-T"}}, true},
        {"a signer revoked before its token", revoked, {{0, "revoked", "true", ""}}, false},
        {"that token swapped for one of a self-signed authority, dated before the revocation",
         swapped(revoked, "self-stamped", start, "forged"), {{0, "revoked", "false", ""}}, false},
        {"that token swapped for one the revoked key made itself",
         swapped(revoked, "own-stamped", start, "late"), {{0, "revoked", "false", no_usage}}, false},
        {"an expired signer's token swapped for one dated within its validity",
         swapped(lapsed, "lapsed-stamped", start, "forged"), {{0, "expired", "false", ""}}, false},
        {"a token of an ordinary signer of the trusted CA", swapped(bt, "signer-stamped", now, "second"),
         {{0, "trusted", "false", no_usage, "B-B"}}, true},
        {"an authority whose timeStamping usage is not critical", swapped(bt, "loose-stamped", now, "loose"),
         {{0, "trusted", "false", "not marked critical", "B-B"}}, true},
        {"an authority that may do more than stamp", swapped(bt, "wide-stamped", now, "wide"),
         {{0, "trusted", "false", "other extended key usages", "B-B"}}, true},
        {"a document timestamp an ordinary signer of the trusted CA made",
         with_document_token(pki, lta, d.dir.file("signer-document-stamp.pdf"), pki.file("second")),
         {{0, "trusted", "true", "", "B-LT"}, {1, "untrusted", "", no_usage}}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string out;
        qs::JsonPtr root(report_of(c.pdf, d.conf_, out));
        ASSERT_TRUE(root) << out;
        EXPECT_EQ(text_of(root.get(), "valid"), c.valid ? "true" : "false") << out;
        for (const Look &look : c.looks) {
            json_object *entry = entry_of(root.get(), look.entry);
            ASSERT_TRUE(entry) << out;
            // The signatures themselves are untouched: what is swapped lies outside what they sign.
            EXPECT_EQ(text_of(entry, "intact"), "true") << text_of(entry, "intact_detail");
            EXPECT_EQ(text_of(entry, "trust"), look.trust) << text_of(entry, "trust_detail");
            if (!look.pades.empty()) {
                EXPECT_EQ(text_of(entry, "pades"), look.pades);
            }
            json_object *stamp = member(entry, "timestamp");
            if (look.stamp.empty()) {
                EXPECT_NE(text_of(entry, "trust_detail").find(look.detail), std::string::npos) << out;
                continue;
            }
            ASSERT_TRUE(stamp) << out;
            EXPECT_EQ(text_of(stamp, "intact"), "true") << text_of(stamp, "intact_detail");
            EXPECT_EQ(text_of(stamp, "trusted"), look.stamp);
            EXPECT_NE(text_of(stamp, "trust_detail").find(look.detail), std::string::npos) << text_of(stamp, "trust_detail");
        }
    }
}

// verify and the report judge every signature alike: a later signature that
// verifies over nothing is no signature but changed content, the newest
// signature is the one whose signed bytes end last, an earlier signature
// whose document was changed fails verify too, and a certification that
// allows no changes refuses an information update.
TEST(Report, VerifyAndTheReportShareOneJudgement) {
    Documents d;
    const std::string script = "python3 " + shell_quote(std::string(QS_SOURCE_DIR) + "/tests/support/reader_attacks.py");
    const std::string contract = d.dir.file("contract.pdf"), adbe = d.conf("signer", "adbe.pkcs7.detached");
    ASSERT_EQ(run_shell(script + " contract table " + shell_quote(contract)).status, 0);
    const std::string signed_pdf = d.sign("contract-signed", contract, adbe);
    const std::string certified = d.sign("contract-certified", contract, adbe, {"-c"});
    const auto updated = [&](const char *update, const std::string &pdf) {
        const std::string out = d.dir.file(std::string(update) + ".pdf");
        EXPECT_EQ(run_shell(script + " update " + update + " table " + shell_quote(pdf) + " " + shell_quote(out)).status, 0);
        return out;
    };
    const std::string second = d.conf("second", "adbe.pkcs7.detached");
    const std::string fails = "-1#Document signature verification fails [";
    const std::string certification =
        "The certification (/P 1) allows no changes but validation data and document timestamps; the updates after "
        "it bring: ";

    struct Judged {
        std::string intact, changes;
    };
    struct Case {
        const char *name;
        std::string pdf;
        std::string line;  // verify's line, or its start
        std::vector<Judged> entries;
    } cases[] = {
        {"a later signature field whose contents are no signature", updated("unverified-signature", signed_pdf),
         fails + "Error in d2i_CMS_bio()...]", {{"true", "disallowed"}, {"false", "none"}}},
        {"a later signature field holding the earlier signature's contents", updated("copied-signature", signed_pdf),
         fails + "error:", {{"true", "disallowed"}, {"false", "none"}}},
        {"the title changed after a certification", updated("information", certified),
         fails + certification + "information]\n", {{"true", "disallowed"}}},
        {"a second signature over a page changed after the first",
         d.sign("changed-then-signed", updated("page-content", signed_pdf), second),
         fails + "The earlier signature of the field ", {{"true", "disallowed"}, {"true", "none"}}},
        {"a second signature", d.sign("twice", signed_pdf, second),
         "0#Document signature verified [Signer: LTV Second Signer]\n", {{"true", "allowed"}, {"true", "none"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string line = run_cli({"verify", "-i", c.pdf}).out;
        EXPECT_EQ(line.rfind(c.line, 0), 0u) << line;
        std::string out;
        qs::JsonPtr root(report_of(c.pdf, d.conf_, out));
        ASSERT_TRUE(root) << out;
        bool sound = true;
        for (std::size_t i = 0; i < c.entries.size(); ++i) {
            json_object *entry = entry_of(root.get(), i);
            ASSERT_TRUE(entry) << out;
            EXPECT_EQ(text_of(entry, "intact"), c.entries[i].intact) << out;
            EXPECT_EQ(text_of(entry, "changes"), c.entries[i].changes) << out;
            sound = sound && c.entries[i].intact == "true" && c.entries[i].changes != "disallowed";
        }
        EXPECT_EQ(entry_of(root.get(), c.entries.size()), nullptr) << out;
        // One judgement: verify succeeds exactly when the report finds every signature sound.
        EXPECT_EQ(line.rfind("0#", 0) == 0, sound) << line;
        EXPECT_EQ(text_of(root.get(), "valid"), sound ? "true" : "false") << out;
    }
}

// A CRL in the document counts for the signer only as far as its issuing
// distribution point reaches, and a delta CRL alone proves no one good.
TEST(Report, ACrlCountsOnlyForWhatItCovers) {
    Documents d;
    RevocationService &pki = d.pki;
    const std::string base = pki.tsa_url().substr(0, pki.tsa_url().size() - 4);
    qstest::write_file(
        pki.file("scope.cnf"),
        qstest::read_file(pki.file("inter/ca.cnf")) +
            "[scoped]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nsubjectKeyIdentifier=hash\n"
            "authorityKeyIdentifier=keyid\ncrlDistributionPoints=URI:" + base + "/crl/scoped.crl\n"
            "[full]\n"
            "[delta]\ndeltaCRL=critical,DER:02:01:01\n"
            "[cas]\nissuingDistributionPoint=critical,@cas_point\n[cas_point]\nonlyCA=TRUE\n"
            "[user]\nissuingDistributionPoint=critical,@user_point\n[user_point]\nfullname=URI:" + base +
            "/crl/scoped.crl\nonlyuser=TRUE\n"
            "[reasons]\nissuingDistributionPoint=critical,@reasons_point\n[reasons_point]\nonlysomereasons=keyCompromise\n"
            "[elsewhere]\nissuingDistributionPoint=critical,@elsewhere_point\n[elsewhere_point]\n"
            "fullname=URI:http://127.0.0.1:1/other.crl\n");
    const std::string crl = "openssl ca -batch -gencrl -config scope.cnf -crlexts ";
    const auto made = run_shell(
        "cd " + shell_quote(pki.file("")) +
        " && openssl req -new -key signer.key -subj '/O=Quillseal Test/CN=LTV Scoped Signer' -out scoped.csr"
        " && openssl ca -batch -notext -config scope.cnf -extensions scoped -in scoped.csr -out scoped.pem"
        " && openssl pkcs12 -export -inkey signer.key -in scoped.pem -certfile chain.pem -passout pass:" +
        std::string(qstest::kStorePassword) + " -out scoped.p12"
        " && for s in cas user delta reasons elsewhere; do " + crl + "$s -out $s-before.pem || exit 1; done"
        " && openssl ca -batch -config scope.cnf -revoke scoped.pem"
        " && for s in full user delta; do " + crl + "$s -out $s-after.pem || exit 1; done"
        " && for f in *-before.pem *-after.pem; do openssl crl -in $f -outform DER -out ${f%.pem}.der || exit 1; done 2>&1");
    ASSERT_EQ(made.status, 0) << made.out;
    const std::string signed_pdf = d.sign("scoped", qstest::fixture("one-page.pdf"), d.conf("scoped", "ETSI.CAdES.detached"));

    // Every document holds one CRL about the signer, who is revoked; "before" lists made before the revocation.
    const struct {
        const char *name;
        const char *crl;
        const char *revocation;
    } cases[] = {
        {"a complete list naming the signer", "full-after", "revoked"},
        {"a list of end-entity certificates naming the signer", "user-after", "revoked"},
        {"a delta list naming the signer", "delta-after", "revoked"},
        {"a list of end-entity certificates from before", "user-before", "good"},
        {"a list of CA certificates only", "cas-before", "unknown"},
        {"a delta list alone", "delta-before", "unknown"},
        {"a list for key compromise only", "reasons-before", "unknown"},
        {"a list of another distribution point", "elsewhere-before", "unknown"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        qstest::write_file(pki.file("crl/scoped.crl"), qstest::read_file(pki.file(std::string(c.crl) + ".der")));
        const std::string cache = d.dir.file(c.crl);
        ASSERT_EQ(run_shell("mkdir " + shell_quote(cache)).status, 0);
        qstest::write_file(cache + ".conf", "cachedir=" + cache + "\n");
        const std::string ltv = d.dir.file(std::string(c.crl) + ".pdf");
        ASSERT_EQ(run_cli({"addltv", "-i", signed_pdf, "-o", ltv, "-z", cache + ".conf"}).out.rfind("0#", 0), 0u);
        std::string out;
        qs::JsonPtr root(report_of(ltv, d.conf_, out));
        ASSERT_TRUE(root) << out;
        json_object *entry = entry_of(root.get(), 0);
        EXPECT_EQ(text_of(entry, "revocation"), c.revocation) << text_of(entry, "revocation_detail");
        EXPECT_EQ(text_of(entry, "trust"), std::string(c.revocation) == "revoked" ? "revoked" : "trusted");
    }
}

}  // namespace
