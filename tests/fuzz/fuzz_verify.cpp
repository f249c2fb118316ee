// Verification, and the report of every signature, of an arbitrary file.
#include <cstdlib>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::rearm();
    const std::string &path = fuzz::write_scratch(data, size, ".pdf");
    SigningConfig *config = init_config(nullptr);
    verify_internal(path.c_str(), config);
    fuzz::rearm();
    char *report = nullptr;
    signature_report_internal(path.c_str(), config, &report, nullptr);
    std::free(report);
    free_config(config);
    return 0;
}
