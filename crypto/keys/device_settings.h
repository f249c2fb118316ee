// The settings a device key is opened with (module, key reference, PIN and the
// like), kept as a salted digest: a key opened once is used again only for
// exactly its own settings, and settings a device refused are not tried again,
// without the PIN being kept anywhere in the clear.
#pragma once

#include <initializer_list>
#include <string>

namespace qs {

// SHA-256 over a salt of this process and every part (each with its NUL). The
// parts are fed to the digest where they stand and copied nowhere; the salt
// keeps a short PIN from being found by trying PINs against a kept digest.
std::string settings_fingerprint(std::initializer_list<const char *> parts);

}  // namespace qs
