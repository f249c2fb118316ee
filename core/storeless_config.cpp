#include "core/storeless_config.h"

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/text.h"

namespace qs {

ConfigPtr read_storeless_config(const char *configuration) {
    SigningConfig *raw = nullptr;
    if (read_config(configuration ? configuration : "", &raw) < 0) {
        char dropped[kTextField];
        handle_error_message(dropped, 0);
    }
    if (!raw) report("Out of memory for the configuration.");
    return ConfigPtr(raw, &free_config);
}

}  // namespace qs
