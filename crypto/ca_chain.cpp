// PEM certificate chains, read whole and kept in file order.
#include <openssl/pem.h>

#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"

extern "C" {
QS_API BIO *bio_err = nullptr;
}

namespace {

// Encrypted keys in a chain file are skipped, never prompted for.
int no_password(char *, int, int, void *) { return 0; }

void diagnose(const char *format, const char *path) {
    if (bio_err) BIO_printf(bio_err, format, path);
}

}  // namespace

extern "C" {

QS_API STACK_OF(X509) *loadca(const char *path) {
    return qs::guarded_ptr([&]() -> STACK_OF(X509) * {
        qs::X509StackPtr chain(sk_X509_new_null());
        if (!chain) {
            diagnose("memory allocation failure\n", "");
            return nullptr;
        }
        bool not_regular = false;
        qs::FilePtr stream = path && path[0] ? qs::open_regular_file(path, not_regular) : qs::FilePtr();
        qs::BioPtr file(stream ? BIO_new_fp(stream.get(), BIO_NOCLOSE) : nullptr);
        if (!file) {
            diagnose("error opening the file, %s\n", path ? path : "");
            return nullptr;
        }
        qs::X509InfoStackPtr items(PEM_X509_INFO_read_bio(file.get(), nullptr, no_password, nullptr));
        if (!items) {
            diagnose("error reading the file, %s\n", path);
            return nullptr;
        }
        for (int i = 0; i < sk_X509_INFO_num(items.get()); ++i) {
            X509_INFO *item = sk_X509_INFO_value(items.get(), i);
            if (!item->x509) continue;
            if (!sk_X509_push(chain.get(), item->x509)) {
                diagnose("memory allocation failure\n", "");
                return nullptr;
            }
            item->x509 = nullptr;  // moved onto the chain
        }
        if (sk_X509_num(chain.get()) == 0) {
            diagnose("no certificates in file, %s\n", path);
            return nullptr;
        }
        return chain.release();
    });
}

}  // extern "C"
