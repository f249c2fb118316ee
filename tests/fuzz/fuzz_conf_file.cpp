// The key=value reader on arbitrary file contents.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::rearm();
    const std::string &path = fuzz::write_scratch(data, size, ".conf");
    SigningConfig *config = nullptr;
    char arg[256];
    snprintf(arg, sizeof arg, "%s", path.c_str());
    read_config(arg, &config);
    free_config(config);
    char value[256];
    read_conf_file_entry(path.c_str(), "certfile=", value);
    return 0;
}
