// The DSS update on an in-memory document, with validation data made up from
// each signature's bytes, so that no input reaches the network.
#include <cstdio>
#include <string>

#include "core/base/guard.h"
#include "fuzz_support.h"
#include "pdf/dss_update.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::rearm();
    if (size == 0) return 0;
    FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!f) return 0;
    const qs::LtvSource source = [](std::string_view contents, const qs::DocumentMaterial &,
                                    qs::LtvSignatureData &ltv) {
        if (contents.empty()) return false;
        ltv.vri_key = "AB";
        ltv.certs = {{"c", std::string(contents)}};
        if (contents.size() % 2 == 0) ltv.ocsps = {{"o", std::string(contents)}};
        if (contents.size() % 3 != 0) ltv.crls = {{"", std::string(contents.substr(1))}};
        return true;
    };
    std::string update;
    qs::guarded([&] { return qs::build_dss_update(f, "", source, update) ? 0 : -1; });
    std::fclose(f);
    return 0;
}
