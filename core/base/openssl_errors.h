// Drains OpenSSL's error queue into one line of text.
#pragma once

#include <string>

namespace qs {

// The queued OpenSSL errors joined by "; " (empty when none); the queue is left empty.
std::string openssl_errors();

// Reports prefix, followed by the queued OpenSSL errors in brackets when there are any.
void report_openssl(const std::string &prefix);

}  // namespace qs
