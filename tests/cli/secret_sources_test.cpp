// Secrets named by their source instead of written into the configuration: a
// file of the running user, an environment variable, a systemd credential,
// beside the stored form, through the real program. A source that is missing
// or refused fails before any output is made, with a line that says why, and
// no secret ever shows.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <quillseal/quillseal.h>

#include "cli/cli_support.h"
#include "support/support.h"

namespace {

using qstest::fixture;
using qstest::TempDir;

std::string stored(const std::string &password) {
    char out[513];
    encrypt_password(password.c_str(), out);
    return out;
}

TEST(SecretSources, EachSourceSignsOrIsRefusedBeforeAnyOutput) {
    TempDir dir;
    const std::string pass = qstest::kStorePassword;
    const auto secret_file = [&](const std::string &name, const std::string &text, mode_t mode) {
        const std::string path = dir.file(name);
        qstest::write_file(path, text);
        chmod(path.c_str(), mode);
        return path;
    };
    const std::string owned = secret_file("pass.txt", pass + "\r\nsecond line\n", 0600);
    const std::string open_to_group = secret_file("group.txt", pass + "\n", 0640);
    const std::string others = secret_file("others.txt", pass + "\n", 0600);
    const bool foreign = chown(others.c_str(), 65534, 65534) == 0;  // only root can give a file away
    const std::string creds = dir.file("credentials");
    mkdir(creds.c_str(), 0700);
    qstest::write_file(creds + "/store-pass", pass);  // systemd writes credentials without a line end
    const std::string env = "QS_TEST_STORE_PASS=" + qstest::shell_quote(pass) + " ";
    const std::string in_creds = "CREDENTIALS_DIRECTORY=" + qstest::shell_quote(creds) + " ";
    const std::string store = fixture("signer.p12");
    const std::string refused = "-1#Error processing configuration file! The entry ";

    struct Case {
        const char *what;
        std::string environment, config, line;  // config: key=value lines, or JSON text
    } cases[] = {
        {"stored form", "", "certpasswd=" + stored(pass), "0#"},
        {"file: its first line, CR LF dropped", "", "certpasswd=file:" + owned, "0#"},
        {"env:", env, "certpasswd=env:QS_TEST_STORE_PASS", "0#"},
        {"cred:", in_creds, "certpasswd=cred:store-pass", "0#"},
        {"JSON naming a source", env,
         R"({"certstore": "PKCS12 KEYSTORE FILE", "certfile": "", "certpasswd": "env:QS_TEST_STORE_PASS", "conffile": "@"})",
         "0#"},
        {"file: readable by its group", "", "certpasswd=file:" + open_to_group,
         refused + "certpasswd names the file " + open_to_group + ", whose permissions 0640 are too open"},
        {"file: of another user", "", "certpasswd=file:" + others,
         refused + "certpasswd names the file " + others + ", which belongs to user 65534"},
        {"file: missing", "", "certpasswd=file:" + dir.file("none.txt"),
         refused + "certpasswd names the file " + dir.file("none.txt") + ", which cannot be read: No such file"},
        {"file: not an absolute path", "", "certpasswd=file:pass.txt",
         refused + "certpasswd names a file without an absolute path"},
        {"env: not set", "", "certpasswd=env:QS_TEST_STORE_PASS",
         refused + "certpasswd names the environment variable QS_TEST_STORE_PASS, which is not set."},
        {"cred: outside a service", "", "certpasswd=cred:store-pass",
         refused + "certpasswd names the credential store-pass, but CREDENTIALS_DIRECTORY is not set"},
        {"cred: leading out of its folder", in_creds, "certpasswd=cred:../pass.txt",
         refused + "certpasswd names the credential \"../pass.txt\", which is not a credential name."},
        {"cred: missing", in_creds, "certpasswd=cred:other",
         refused + "certpasswd names the credential " + creds + "/other, which cannot be read"},
        {"tsapasswd is a secret too", "", "tsapasswd=env:QS_TEST_TSA_PASS\ncertpasswd=" + stored(pass),
         refused + "tsapasswd names the environment variable QS_TEST_TSA_PASS, which is not set."},
        {"JSON naming a missing source", "",
         R"({"certstore": "PKCS12 KEYSTORE FILE", "certpasswd": "env:QS_TEST_STORE_PASS", "conffile": "@"})",
         refused + "certpasswd names the environment variable QS_TEST_STORE_PASS, which is not set."},
    };
    const std::string conf = dir.file("secret.conf"), out = dir.file("out.pdf");
    const std::string base = "certstore=PKCS12 KEYSTORE FILE\ncertfile=" + store + "\n";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (!foreign && std::string(c.what) == "file: of another user") continue;
        std::string config = c.config;
        if (config[0] == '{') {
            qstest::write_file(conf, base);
            config.replace(config.find('@'), 1, conf);
        } else {
            qstest::write_file(conf, c.config + "\n" + base);
            config = conf;
        }
        // One document, and a folder: a refusal comes before anything is written.
        const std::string in_dir = dir.file("in"), out_dir = dir.file("out");
        mkdir(in_dir.c_str(), 0755);
        mkdir(out_dir.c_str(), 0755);
        qstest::write_file(in_dir + "/a.pdf", qstest::read_file(fixture("one-page.pdf")));
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"-i", fixture("one-page.pdf"), "-o", out, "-z", config},
              std::vector<std::string>{"-i", in_dir, "-o", out_dir, "-z", config, "-j", "2"}}) {
            const qstest::RunResult run = qstest::run_shell(
                c.environment + "timeout 60 " + qstest::shell_quote(QS_CLI_PATH) + " " + [&] {
                    std::string words;
                    for (const std::string &a : args) words += qstest::shell_quote(a) + " ";
                    return words;
                }() + "2>&1");
            const std::vector<std::string> lines = clitest::output_lines(run.out);
            ASSERT_EQ(lines.size(), 1u) << run.out;
            EXPECT_EQ(lines[0].rfind(c.line, 0), 0u) << lines[0];
            const bool signs = c.line == "0#";
            const std::string written = args[1] == in_dir ? out_dir + "/a.pdf" : out;
            EXPECT_EQ(run.status == 0, signs) << run.out;
            if (signs)
                EXPECT_EQ(clitest::check_signed_output(written), "");
            else
                EXPECT_FALSE(qstest::file_exists(written));
            EXPECT_EQ(run.out.find(pass), std::string::npos);
            std::remove(written.c_str());
        }
    }
}

}  // namespace
