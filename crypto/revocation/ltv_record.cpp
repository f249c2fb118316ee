// The LTVData record of the C interface: one signature's data in fixed
// tables of LTV_DATA_ITEMS entries per kind, every buffer malloc'd.
#include <climits>
#include <cstdlib>
#include <cstring>

#include <quillseal/crypto.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"
#include "crypto/revocation/ltv_data.h"
#include "crypto/revocation/revocation_cache.h"

namespace qs {
namespace {

struct Table {
    int *count;
    int *lengths;
    unsigned char **bytes;
    char **names;
};

// Copies items into a table; false when one cannot be allocated.
bool fill(const std::vector<LtvItem> &items, Table table) {
    for (const LtvItem &item : items) {
        const int i = *table.count;
        auto *der = static_cast<unsigned char *>(std::malloc(item.der.empty() ? 1 : item.der.size()));
        if (!der) return false;
        std::memcpy(der, item.der.data(), item.der.size());
        table.bytes[i] = der;
        table.lengths[i] = static_cast<int>(item.der.size());
        ++*table.count;
        if (item.name.empty()) continue;  // a CRL carried in the signature has no name
        table.names[i] = static_cast<char *>(std::malloc(item.name.size() + 1));
        if (!table.names[i]) return false;
        std::memcpy(table.names[i], item.name.c_str(), item.name.size() + 1);
    }
    return true;
}

bool fits(const std::vector<LtvItem> &items, const char *kind) {
    bool fit = items.size() <= LTV_DATA_ITEMS;
    for (const LtvItem &item : items) fit = fit && item.der.size() <= static_cast<std::size_t>(INT_MAX);
    if (!fit) report(format("The signature has more than %d %s for the LTV data record.", LTV_DATA_ITEMS, kind));
    return fit;
}

}  // namespace
}  // namespace qs

extern "C" {

QS_API void free_LTVData(LTVData *data) {
    if (!data) return;
    for (int i = 0; i < LTV_DATA_ITEMS; ++i) {
        std::free(data->cert_der[i]);
        std::free(data->cert_name[i]);
        std::free(data->crl_der[i]);
        std::free(data->crl_name[i]);
        std::free(data->ocsp_der[i]);
        std::free(data->ocsp_name[i]);
    }
    std::free(data);
}

QS_API LTVData *getLTVData(const unsigned char *contents, int length, const char *cachedir) {
    return qs::guarded_ptr([&]() -> LTVData * {
        if (!contents || length <= 0) {
            qs::report("d2i_PKCS7_bio() failed...");
            return nullptr;
        }
        qs::LtvContext context;
        context.cachedir = qs::cache_directory(cachedir);
        qs::LtvSignatureData data;
        if (!qs::collect_ltv_data(std::string_view(reinterpret_cast<const char *>(contents),
                                                   static_cast<std::size_t>(length)),
                                  qs::DocumentMaterial{}, context, data))
            return nullptr;
        if (!qs::fits(data.certs, "certificates") || !qs::fits(data.crls, "CRLs") ||
            !qs::fits(data.ocsps, "OCSP responses"))
            return nullptr;
        qs::LtvDataPtr record(static_cast<LTVData *>(std::calloc(1, sizeof(LTVData))));
        if (!record) {
            qs::report("Out of memory for the LTV data.");
            return nullptr;
        }
        qs::copy_field(record->vri_key, data.vri_key);
        LTVData *r = record.get();
        if (!qs::fill(data.certs, {&r->cert_count, r->cert_len, r->cert_der, r->cert_name}) ||
            !qs::fill(data.crls, {&r->crl_count, r->crl_len, r->crl_der, r->crl_name}) ||
            !qs::fill(data.ocsps, {&r->ocsp_count, r->ocsp_len, r->ocsp_der, r->ocsp_name})) {
            qs::report("Out of memory for the LTV data.");
            return nullptr;
        }
        return record.release();
    });
}

}  // extern "C"
