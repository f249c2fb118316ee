// Secrets from the configuration value itself, a file of the running user, the
// environment, or systemd's credentials folder.
#include "config/secret_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include <openssl/crypto.h>

#include "config/password_cipher.h"
#include "core/base/text.h"

namespace qs {
namespace {

// The most a source is read for a secret: far more than any field holds, so
// that a longer secret is refused as such rather than cut.
constexpr std::size_t kMostRead = 4096;

// A secret on its way to its field: its room is reserved at once, so the text
// never moves, and the whole room is cleansed when it goes.
class SecretText {
public:
    SecretText() { text_.reserve(kMostRead); }
    ~SecretText() { OPENSSL_cleanse(text_.data(), text_.capacity()); }
    SecretText(const SecretText &) = delete;
    SecretText &operator=(const SecretText &) = delete;
    std::string &text() { return text_; }

private:
    std::string text_;
};

[[noreturn]] void refuse(std::string_view entry, const std::string &why) {
    throw std::runtime_error("Error processing configuration file! The entry " + std::string(entry) + " " + why);
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The first line of a file, up to its LF (a CR before it is dropped too).
void take_first_line(const char *data, std::size_t size, SecretText &secret) {
    std::string_view line(data, size);
    line = line.substr(0, line.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    secret.text().assign(line.data(), line.size());
}

// The first line of the file at path. With owner_only the file must belong to
// the running user, and no one else may read or write it.
void read_secret_file(const std::string &path, bool owner_only, std::string_view entry, const char *source,
                      SecretText &secret) {
    // Not blocked by a FIFO; the checks below are made on the file opened.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        refuse(entry, format("names the %s %s, which cannot be read: %s", source, shown(path, 80).c_str(),
                             std::strerror(errno)));
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        refuse(entry, format("names the %s %s, which is not a regular file.", source, shown(path, 80).c_str()));
    if (owner_only && info.st_uid != ::geteuid())
        refuse(entry, format("names the file %s, which belongs to user %u, not to the user running this program "
                             "(%u).",
                             shown(path, 80).c_str(), static_cast<unsigned>(info.st_uid),
                             static_cast<unsigned>(::geteuid())));
    if (owner_only && (info.st_mode & 077) != 0)
        refuse(entry, format("names the file %s, whose permissions %04o are too open: no one but its owner may "
                             "read or write it (chmod 600).",
                             shown(path, 80).c_str(), static_cast<unsigned>(info.st_mode & 07777)));
    char block[kMostRead];
    std::size_t got = 0;
    while (got < sizeof block) {
        const ssize_t n = ::read(fd, block + got, sizeof block - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            OPENSSL_cleanse(block, sizeof block);
            refuse(entry, format("names the %s %s, which cannot be read: %s", source, shown(path, 80).c_str(),
                                 std::strerror(errno)));
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
        if (std::memchr(block, '\n', got)) break;
    }
    take_first_line(block, got, secret);
    OPENSSL_cleanse(block, sizeof block);
}

bool is_variable_name(std::string_view name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
    for (char c : name)
        if (!(c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

void read_environment(std::string_view name, std::string_view entry, SecretText &secret) {
    if (!is_variable_name(name))
        refuse(entry, format("names the environment variable \"%s\", which is not a variable name.",
                             shown(name).c_str()));
    const char *value = std::getenv(std::string(name).c_str());
    if (!value)
        refuse(entry, format("names the environment variable %s, which is not set.", shown(name).c_str()));
    const std::size_t length = std::strlen(value);
    secret.text().assign(value, length < kMostRead ? length : kMostRead);
}

// A credential is a file name in the folder systemd made for the service,
// never a path that leads out of it.
void read_credential(std::string_view name, std::string_view entry, SecretText &secret) {
    const char *folder = std::getenv("CREDENTIALS_DIRECTORY");
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos)
        refuse(entry, format("names the credential \"%s\", which is not a credential name.", shown(name).c_str()));
    if (!folder || !folder[0])
        refuse(entry, format("names the credential %s, but CREDENTIALS_DIRECTORY is not set (the service "
                             "needs LoadCredential=%s:... or SetCredential=%s:...).",
                             shown(name).c_str(), shown(name).c_str(), shown(name).c_str()));
    read_secret_file(std::string(folder) + "/" + std::string(name), false, entry, "credential", secret);
}

}  // namespace

void read_secret(std::string_view value, SecretLiteral literal, std::string_view entry, char *field,
                 std::size_t size) {
    SecretText secret;
    if (starts_with(value, "file:")) {
        const std::string_view path = value.substr(5);
        if (path.empty() || path[0] != '/')
            refuse(entry, "names a file without an absolute path (file:/path/to/secret).");
        read_secret_file(std::string(path), true, entry, "file", secret);
    } else if (starts_with(value, "env:")) {
        read_environment(value.substr(4), entry, secret);
    } else if (starts_with(value, "cred:")) {
        read_credential(value.substr(5), entry, secret);
    } else if (literal == SecretLiteral::stored_form) {
        std::string plain = decrypt_stored_password(value);
        secret.text().assign(plain.data(), plain.size() < kMostRead ? plain.size() : kMostRead);
        OPENSSL_cleanse(plain.data(), plain.size());
    } else {
        // Written in the configuration itself: cut to its field like any value there.
        copy_bounded(field, size, value);
        return;
    }
    // A secret from a source is used whole or not at all.
    if (secret.text().size() >= size)
        refuse(entry, format("names a secret longer than %zu bytes.", size - 1));
    copy_bounded(field, size, secret.text());
}

}  // namespace qs
