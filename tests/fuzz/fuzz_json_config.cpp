// The JSON configuration reader on arbitrary text.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::rearm();
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.c_str();  // the reader takes a NUL-terminated text
    if (text.find('{') == std::string::npos) text = "{" + text;
    SigningConfig *config = init_config(nullptr);
    read_conf_json(text.c_str(), config);
    free_config(config);
    char value[256];
    read_conf_json_entry(text.c_str(), "certfile", value);
    return 0;
}
