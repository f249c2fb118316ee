// The one reader of secrets: every password, PIN or token of a configuration
// (the key=value file and JSON alike) comes through read_secret, whatever
// source it names, and nothing else reads one.
#pragma once

#include <cstddef>
#include <string_view>

namespace qs {

// How a value that names no source is taken: as the stored form of the
// key=value file (hex of the stored-password cipher), or as it is written.
enum class SecretLiteral { stored_form, as_written };

// Writes the secret that value names into field (size bytes, NUL-terminated):
//   "file:/path"  the first line of that file (without its line end); the
//                 file must be a regular file of the running user that no
//                 one else may read or write, as ssh asks of a private key;
//   "env:NAME"    the environment variable NAME;
//   "cred:NAME"   the file NAME in $CREDENTIALS_DIRECTORY, where systemd puts
//                 the credentials of a service (LoadCredential=, SetCredential=);
//   anything else the value itself, as literal says.
// A value written in the configuration is cut to the field like any other;
// a source that is missing or refused, or names a secret longer than the
// field, throws std::runtime_error with a reason that names entry and the source,
// never the secret. Every buffer the secret passed through is cleansed.
void read_secret(std::string_view value, SecretLiteral literal, std::string_view entry, char *field,
                 std::size_t size);

}  // namespace qs
