// Long-term-validation data through the real program (`quillseal addltv`)
// against a real OCSP responder and CRL distribution point, and the LTVData
// record of the C interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <quillseal/quillseal.h>

#include "core/base/handles.h"
#include "crypto/crypto_support.h"
#include "crypto/hex.h"
#include "crypto/revocation/crl_fetch.h"
#include "crypto/revocation/ocsp_status.h"
#include "crypto/revocation/revocation_cache.h"
#include "crypto/revocation_service.h"
#include "pdf/qpdf_api.h"

namespace {

using namespace cryptotest;
using qstest::file_exists;
using qstest::read_file;
using qstest::run_cli;
using qstest::run_shell;
using qstest::shell_quote;
using qstest::TempDir;

std::string conf_for(const RevocationService &pki, const TempDir &dir, const std::string &store,
                     const std::string &cache = "") {
    char stored[600];
    encrypt_password(qstest::kStorePassword, stored);
    const std::string path = dir.file(store + ".conf");
    qstest::write_file(path, "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + pki.file(store + ".p12") +
                                 "\ncertpasswd=" + stored + "\nextrarange=6000\ncachedir=" +
                                 (cache.empty() ? dir.path() : cache) + "\n");
    return path;
}

// The one-page fixture signed by each store in turn.
std::string signed_document(const RevocationService &pki, const TempDir &dir, const std::vector<std::string> &stores) {
    std::string current = qstest::fixture("one-page.pdf");
    for (std::size_t i = 0; i < stores.size(); ++i) {
        const std::string next = dir.file("signed" + std::to_string(i) + ".pdf");
        const std::string line = run_cli({"-i", current, "-o", next, "-z", conf_for(pki, dir, stores[i])}).out;
        EXPECT_EQ(line.rfind("0#Document signed", 0), 0u) << line;
        current = next;
    }
    return current;
}

std::string sha1_upper(const std::string &bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr);
    return qs::upper_hex(digest, length);
}

std::string der_of_pem(const std::string &pem) {
    return run_shell("openssl x509 -outform DER -in " + shell_quote(pem)).out;
}

// What the document's security store holds, decoded.
struct Store {
    std::vector<std::string> certs, ocsps, crls;
    std::map<std::string, std::vector<std::size_t>> vri;  // key -> numbers of /Cert, /OCSP, /CRL
    std::set<int> objects;                                 // items, VRI, DSS and the catalog
    std::set<std::string> signature_keys;                  // SHA-1 of every signature's /Contents
};

std::vector<std::string> stream_data(QPDFObjectHandle array, std::set<int> &objects) {
    std::vector<std::string> items;
    if (!array.isArray()) return items;
    for (QPDFObjectHandle item : array.aitems()) {
        objects.insert(item.getObjectID());
        auto data = item.getStreamData(qpdf_dl_generalized);
        items.emplace_back(reinterpret_cast<const char *>(data->getBuffer()), data->getSize());
    }
    return items;
}

Store read_store(const std::string &pdf) {
    Store s;
    QPDF doc;
    doc.processFile(pdf.c_str());
    QPDFObjectHandle root = doc.getRoot(), dss = root.getKey("/DSS");
    s.objects = {root.getObjectID(), dss.getObjectID(), dss.getKey("/VRI").getObjectID()};
    s.certs = stream_data(dss.getKey("/Certs"), s.objects);
    s.ocsps = stream_data(dss.getKey("/OCSPs"), s.objects);
    s.crls = stream_data(dss.getKey("/CRLs"), s.objects);
    for (auto &[key, entry] : dss.getKey("/VRI").ditems()) {
        auto &counts = s.vri[key.substr(1)];
        for (const char *kind : {"/Cert", "/OCSP", "/CRL"})
            counts.push_back(entry.hasKey(kind) ? static_cast<std::size_t>(entry.getKey(kind).getArrayNItems()) : 0);
    }
    for (QPDFObjectHandle field : root.getKey("/AcroForm").getKey("/Fields").aitems())
        if (field.getKey("/V").isDictionary())
            s.signature_keys.insert(sha1_upper(field.getKey("/V").getKey("/Contents").getStringValue()));
    return s;
}

// True when every object of the store is written at or after offset (in the new section).
std::string objects_before(const std::string &pdf, const std::set<int> &objects, long offset) {
    const std::string listing = "\n" + run_shell("qpdf --show-xref " + shell_quote(pdf)).out;
    std::string early;
    for (int number : objects) {
        const std::string head = std::to_string(number) + "/0: uncompressed; offset = ";
        const std::size_t at = listing.find("\n" + head);
        if (at == std::string::npos || std::stol(listing.substr(at + 1 + head.size())) < offset)
            early += std::to_string(number) + " ";
    }
    return early;
}

TEST(Ltv, AddltvStoresTheValidationDataOfEverySignature) {
    RevocationService pki;
    const std::vector<std::string> eleven(11, "signer");
    const struct {
        const char *name;
        std::vector<std::string> stores;
        std::size_t certs, ocsps, crls;
        std::vector<std::size_t> per_signature;  // /Cert, /OCSP, /CRL of the first VRI entry
    } cases[] = {
        // The two responders' certificates come with the chain of every signer.
        {"one signature", {"signer"}, 4, 2, 2, {4, 2, 2}},
        {"two signers sharing the intermediate; the second names two CRL points", {"signer", "second"}, 5, 3, 2, {4, 2, 2}},
        {"a signer whose only CRL point is LDAP", {"ldap"}, 4, 2, 1, {4, 2, 1}},
        {"eleven signatures", eleven, 4, 2, 2, {4, 2, 2}},
    };
    const std::map<std::string, std::string> issuers = {{"signer.pem", "inter/ca.pem"},
                                                        {"second.pem", "inter/ca.pem"},
                                                        {"ldap.pem", "inter/ca.pem"},
                                                        {"inter/ca.pem", "root/ca.pem"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string in = signed_document(pki, dir, c.stores);
        const std::string before = read_file(in), out = dir.file("ltv.pdf");
        const auto r = run_cli({"addltv", "-i", in, "-o", out, "-z", conf_for(pki, dir, "signer")});
        ASSERT_EQ(r.out, "0#Document LTVed: input[" + in + "] output[" + out + "]\n");
        EXPECT_EQ(read_file(in), before);
        EXPECT_EQ(read_file(out).compare(0, before.size(), before), 0);

        const auto sig = run_shell("pdfsig " + shell_quote(out) + " 2>&1");
        std::size_t valid = 0;
        for (std::size_t at = 0; (at = sig.out.find("Signature is Valid", at)) != std::string::npos; ++at) ++valid;
        EXPECT_EQ(valid, c.stores.size()) << sig.out;
        EXPECT_EQ(run_shell("qpdf --check " + shell_quote(out) + " >/dev/null 2>&1").status, 0);
        EXPECT_EQ(run_cli({"verify", "-i", out}).out.rfind("0#Document signature verified", 0), 0u);

        const Store store = read_store(out);
        EXPECT_EQ(objects_before(out, store.objects, static_cast<long>(before.size())), "");
        EXPECT_EQ(store.certs.size(), c.certs);
        EXPECT_EQ(store.ocsps.size(), c.ocsps);
        EXPECT_EQ(store.crls.size(), c.crls);
        ASSERT_EQ(store.vri.size(), store.signature_keys.size());
        for (const auto &[key, counts] : store.vri) EXPECT_EQ(store.signature_keys.count(key), 1u) << key;
        EXPECT_EQ(store.vri.begin()->second, c.per_signature);
        // Every stored certificate is one of the signatures' with its good status; the CRLs are the CAs'.
        for (const auto &[cert, issuer] : issuers) {
            if (std::find(store.certs.begin(), store.certs.end(), der_of_pem(pki.file(cert))) == store.certs.end())
                continue;
            int good = 0;
            for (const std::string &response : store.ocsps) {
                const std::string verdict = ocsp_verdict(pki, response, pki.file(cert), pki.file(issuer));
                good += verdict.find("Response verify OK") != std::string::npos &&
                        verdict.find(pki.file(cert) + ": good") != std::string::npos;
            }
            EXPECT_EQ(good, 1) << cert;
        }
        for (const std::string &crl : store.crls)
            EXPECT_TRUE(crl == read_file(pki.file("crl/inter.crl")) || crl == read_file(pki.file("crl/root.crl")));
    }
    EXPECT_EQ(pki.requests_to("/ocsp/silent"), 0);
}

TEST(Ltv, AddltvRefusesWithoutLeavingAnOutput) {
    RevocationService pki;
    TempDir dir;
    const std::string self_signed = dir.file("self.pdf"), unreachable = dir.file("unreachable.pdf");
    ASSERT_EQ(std::rename(signed_document(pki, dir, {"self"}).c_str(), self_signed.c_str()), 0);
    ASSERT_EQ(std::rename(signed_document(pki, dir, {"unreachable"}).c_str(), unreachable.c_str()), 0);
    const std::string out = dir.file("out.pdf");
    const struct {
        const char *name;
        std::string in, out, line;
    } cases[] = {
        {"only self-signed certificates", self_signed, out,
         "-1#The document may be signed with self-signed certificates only in which case it is already LTVed.\n"},
        {"no signature", qstest::fixture("one-page.pdf"), out, "-1#The document may not be signed...\n"},
        {"revocation sources that refuse connections", unreachable, out,
         "-1#Couldn't connect to server [URL: http://127.0.0.1:1/inter.crl]\n"},
        {"output that is the input", unreachable, unreachable,
         "-1#Output file is the input file itself; choose another output path [File: " + unreachable + "]\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = read_file(c.in);
        const auto r = run_cli({"addltv", "-i", c.in, "-o", c.out, "-z", conf_for(pki, dir, "signer")});
        EXPECT_EQ(r.out, c.line);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(read_file(c.in), before);
        EXPECT_FALSE(c.in != c.out && file_exists(c.out));
    }
}

// The store receives only revocation data that verifies: a cached OCSP
// response or CRL that the issuer did not sign, or that names another issuer,
// is fetched again, and a distribution point that serves a CRL another key
// signed fails the collection.
TEST(Ltv, AddltvStoresOnlyRevocationDataThatVerifies) {
    RevocationService pki;
    TempDir dir;
    const std::string in = signed_document(pki, dir, {"signer"});
    qs::X509Ptr signer(PEM_read_X509(qs::open_file(pki.file("signer.pem").c_str(), "r").get(), nullptr, nullptr,
                                     nullptr));
    ASSERT_TRUE(signer);
    const std::string key = qs::serial_key(signer.get());
    std::string url;
    ASSERT_EQ(qs::crl_url(signer.get(), url), qs::CrlPoint::Found);
    const std::string crl_key = qs::crl_cache_key(url);
    const std::string ocsp_file = "quillseal-ocsp-" + key + ".der", crl_file = "quillseal-crl-" + crl_key + ".der";
    const struct {
        const char *name;
        std::string file, bytes, key;  // planted in the cache as just fetched
        const char *path;              // where it comes from
        bool used;
    } cases[] = {
        {"OCSP response of the issuer's responder", ocsp_file,
         make_ocsp_response(pki, "signer.pem", "inter", "inter/responder"), key, "/ocsp/inter", true},
        {"OCSP response signed by a key that carries the issuer's name", ocsp_file,
         make_ocsp_response(pki, "signer.pem", "inter", "forger/ca"), key, "/ocsp/inter", false},
        {"CRL of the issuer", crl_file, read_file(pki.file("crl/inter.crl")), crl_key, "/crl/inter.crl", true},
        {"CRL of another issuer", crl_file, read_file(pki.file("crl/root.crl")), crl_key, "/crl/inter.crl", false},
        {"CRL signed by a key that carries the issuer's name", crl_file, read_file(pki.file("crl/forged.crl")),
         crl_key, "/crl/inter.crl", false},
    };
    std::vector<std::string> real_crls = {read_file(pki.file("crl/inter.crl")), read_file(pki.file("crl/root.crl"))};
    std::sort(real_crls.begin(), real_crls.end());
    const std::string out = dir.file("ltv.pdf");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string cache = dir.file(std::to_string(&c - cases));
        ASSERT_EQ(run_shell("mkdir " + shell_quote(cache)).status, 0);
        plant_cache_file(cache, c.file, c.bytes, c.key);
        const int before = pki.requests_to(c.path);
        const auto r = run_cli({"addltv", "-i", in, "-o", out, "-z", conf_for(pki, dir, "signer", cache)});
        ASSERT_EQ(r.out.rfind("0#Document LTVed", 0), 0u) << r.out;
        EXPECT_EQ(pki.requests_to(c.path) - before, c.used ? 0 : 1);
        // The store holds the planted OCSP response only when it was used, and the CAs' own CRLs.
        Store store = read_store(out);
        EXPECT_EQ(std::count(store.ocsps.begin(), store.ocsps.end(), c.bytes), c.file == ocsp_file && c.used);
        EXPECT_EQ(store.ocsps.size(), 2u);
        std::sort(store.crls.begin(), store.crls.end());
        EXPECT_EQ(store.crls, real_crls);
        std::remove(out.c_str());
    }

    ASSERT_EQ(run_shell("cp " + shell_quote(pki.file("crl/forged.crl")) + " " + shell_quote(pki.file("crl/inter.crl")))
                  .status,
              0);
    const std::string cache = dir.file("served");
    ASSERT_EQ(run_shell("mkdir " + shell_quote(cache)).status, 0);
    const auto r = run_cli({"addltv", "-i", in, "-o", out, "-z", conf_for(pki, dir, "signer", cache)});
    EXPECT_EQ(r.out, "-1#The CRL is not signed by the certificate's issuer [URL: " + url + "]\n");
    EXPECT_FALSE(file_exists(out));
}

// In this process, and spread over worker processes with -j.
TEST(Ltv, AddltvOnADirectory) {
    RevocationService pki;
    TempDir dir;
    const std::string in = dir.file("in");
    ASSERT_EQ(run_shell("mkdir " + in).status, 0);
    ASSERT_EQ(std::rename(signed_document(pki, dir, {"signer"}).c_str(), (in + "/a.pdf").c_str()), 0);
    ASSERT_EQ(std::rename(signed_document(pki, dir, {"second"}).c_str(), (in + "/b.pdf").c_str()), 0);
    for (const char *workers : {"", "2"}) {
        const std::string out = dir.file(std::string("out") + workers);
        ASSERT_EQ(run_shell("mkdir " + out).status, 0);
        std::vector<std::string> args{"addltv", "-i", in, "-o", out, "-z", conf_for(pki, dir, "signer")};
        if (*workers) args.insert(args.end(), {"-j", workers});
        const auto r = run_cli(args);
        EXPECT_EQ(r.status, 0) << r.out;
        for (const char *name : {"/a.pdf", "/b.pdf"}) {
            EXPECT_NE(r.out.find("0#Document LTVed: input[" + in + name + "] output[" + out + name + "]"),
                      std::string::npos)
                << r.out;
            EXPECT_EQ(read_store(out + name).vri.size(), 1u);
        }
    }
}

TEST(Ltv, LtvDataRecordOfOneSignature) {
    RevocationService pki;
    TempDir dir;
    const auto p7 = [&](const std::string &options) {
        const std::string path = dir.file("p7.der");
        EXPECT_EQ(run_shell("cd " + shell_quote(pki.file("")) + " && openssl crl2pkcs7 -outform DER -out " +
                            shell_quote(path) + " " + options).status,
                  0);
        return read_file(path);
    };
    std::string many = "-nocrl -certfile inter/ca.pem -certfile root/ca.pem";
    for (int i = 0; i < 11; ++i) {
        const std::string name = "many" + std::to_string(i);
        ASSERT_EQ(run_shell("cd " + shell_quote(pki.file("")) + " && openssl req -new -key signer.key -subj /CN=" + name +
                            " -out " + name + ".csr && openssl ca -batch -notext -config inter/ca.cnf -extfile ext.cnf "
                            "-extensions signer -in " + name + ".csr -out " + name + ".pem 2>/dev/null").status,
                  0);
        many += " -certfile " + name + ".pem";
    }
    const struct {
        const char *name;
        std::string contents;
        int certs, ocsps, crls;
        bool named_crls;
        const char *message;
    } cases[] = {
        {"root, intermediate and signer", p7("-nocrl -certfile signer.pem -certfile inter/ca.pem -certfile root/ca.pem") +
                                              std::string(64, '\0'),
         4, 2, 2, true, ""},  // the responders' certificates follow the chain
        {"a CRL carried in the signature",
         p7("-in inter/crl.pem -certfile signer.pem -certfile inter/ca.pem -certfile root/ca.pem"), 4, 2, 1, false, ""},
        {"a CRL carried in the signature that its issuer did not sign",
         p7("-in forger/crl.pem -certfile signer.pem -certfile inter/ca.pem -certfile root/ca.pem"), 4, 2, 2, true, ""},
        {"a certificate whose issuer the signature lacks", p7("-nocrl -certfile signer.pem -certfile inter/ca.pem"), 0,
         0, 0, false,
         "The signature does not carry the certificate's issuer; its revocation data cannot be checked...."},
        {"eleven certificates", p7(many), 0, 0, 0, false,
         "The signature has more than 10 certificates for the LTV data record."},
        {"no signature", "not a signature", 0, 0, 0, false, "d2i_PKCS7_bio() failed..."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        message();
        qs::LtvDataPtr data(getLTVData(reinterpret_cast<const unsigned char *>(c.contents.data()),
                                       static_cast<int>(c.contents.size()), dir.path().c_str()));
        EXPECT_EQ(message(), c.message);
        if (c.message[0] != '\0') {
            EXPECT_FALSE(data);
            continue;
        }
        ASSERT_TRUE(data);
        EXPECT_EQ(std::string(data->vri_key), sha1_upper(c.contents));
        EXPECT_EQ(data->cert_count, c.certs);
        EXPECT_EQ(data->ocsp_count, c.ocsps);
        EXPECT_EQ(data->crl_count, c.crls);
        for (int i = 0; i < LTV_DATA_ITEMS; ++i) {
            EXPECT_EQ(data->cert_der[i] != nullptr, i < c.certs);
            EXPECT_EQ(data->crl_name[i] != nullptr, c.named_crls && i < c.crls);
        }
        EXPECT_EQ(std::string(reinterpret_cast<char *>(data->cert_der[0]), data->cert_len[0]),
                  der_of_pem(pki.file("signer.pem")));
        EXPECT_EQ(std::string(data->cert_name[0]), std::string(data->ocsp_name[0]));
        if (!c.named_crls) {
            EXPECT_EQ(std::string(reinterpret_cast<char *>(data->crl_der[0]), data->crl_len[0]),
                      read_file(pki.file("crl/inter.crl")));
        }
    }
}

}  // namespace
