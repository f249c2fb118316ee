#include "core/base/openssl_errors.h"

#include <openssl/err.h>

#include "core/base/guard.h"

namespace qs {

std::string openssl_errors() {
    std::string text;
    unsigned long code;
    while ((code = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(code, buf, sizeof buf);
        if (!text.empty()) text += "; ";
        text += buf;
    }
    return text;
}

void report_openssl(const std::string &prefix) {
    const std::string detail = openssl_errors();
    report(detail.empty() ? prefix : prefix + " [" + detail + "]");
}

}  // namespace qs
