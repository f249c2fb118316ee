// Verification of an arbitrary file.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::rearm();
    const std::string &path = fuzz::write_scratch(data, size, ".pdf");
    SigningConfig *config = init_config(nullptr);
    verify_internal(path.c_str(), config);
    free_config(config);
    return 0;
}
