// The LTV driver: configuration, the DSS update of the signed input, then a
// copy of the input with the update appended; and the update alone, for a
// caller that writes it itself.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "core/output_path.h"
#include "core/storeless_config.h"
#include "crypto/revocation/http_exchange.h"
#include "crypto/revocation/ltv_data.h"
#include "crypto/revocation/revocation_cache.h"
#include "pdf/dss_update.h"

namespace {

// Reported with the system error kept, so that the front end shows this
// failure and not the text of an earlier one.
int fail_keeping_errno(const char *text) {
    const int saved = errno;
    qs::report(text);
    errno = saved;
    return -1;
}

int copy_and_append(std::FILE *input, std::FILE *output, const std::string &update) {
    const long size = getFileSize(input);
    if (size < 0 || copy_file_section(input, output, 0, size) < 0)
        return fail_keeping_errno("Error copying the input document into the output file.");
    if (std::fwrite(update.data(), 1, update.size(), output) != update.size() || std::fflush(output) != 0)
        return fail_keeping_errno("Error writing the LTV update to the output file.");
    return 0;
}

// The source of every signature's data: its chain's revocation data, gathered
// as context says.
qs::LtvSource gatherer(const qs::LtvContext &context) {
    return [&context](std::string_view contents, const qs::DocumentMaterial &document, qs::LtvSignatureData &data) {
        return qs::collect_ltv_data(contents, document, context, data);
    };
}

int run_ltv(std::FILE *input, std::FILE *output, const qs::LtvContext &context) {
    if (std::fseek(input, 0, SEEK_SET) != 0 || std::fseek(output, 0, SEEK_SET) != 0) {
        qs::report("The input or output file cannot be positioned.");
        return -1;
    }
    std::string update;
    if (!qs::build_dss_update(input, "", gatherer(context), update)) return -1;
    return copy_and_append(input, output, update);
}

}  // namespace

extern "C" {

QS_API int ltv(const char *input, const char *output, const char *configuration) {
    return qs::guarded([&]() -> int {
        if (!input || !output) {
            qs::report("Missing input path or output path.");
            return -1;
        }
        // Adding LTV data needs no key store.
        qs::ConfigPtr config = qs::read_storeless_config(configuration);
        if (!config) return -1;
        qs::LtvContext context;
        context.cachedir = qs::cache_directory(config->cachedir);
        context.log = config.get();
        context.capem = config->capem;
        context.trustca = config->trustca;
        if (!qs::http_limits(*config, context.limits)) return -1;
        if (qs::refuse_unusable_output(input, output) < 0) return -1;

        qs::FilePtr in = qs::open_input_file(input);
        if (!in) return -1;
        qs::PendingOutput out(output);
        if (!out.get()) return -1;
        handle_debug_message(config.get(), qs::format("Adding LTV data to %s into %s", input, output).c_str());
        int rc = run_ltv(in.get(), out.get(), context);
        in.reset();
        if (rc == 0 && !out.keep()) rc = -1;
        handle_debug_message(config.get(), rc == 0 ? "LTV data added" : "Adding LTV data failed");
        return rc;
    });
}

QS_API char *qpdf_incremental_ltv_update(FILE *input, const char *password, long *length, const char *cachedir) {
    return qs::guarded_ptr([&]() -> char * {
        if (length) *length = -1;
        if (!length) {
            qs::report("Missing place for the length of the LTV update.");
            return nullptr;
        }
        qs::LtvContext context;
        context.cachedir = qs::cache_directory(cachedir);
        std::string update;
        if (!qs::build_dss_update(input, password, gatherer(context), update)) return nullptr;
        qs::MallocPtr<char> buffer(static_cast<char *>(std::malloc(update.size() + 1)));
        if (!buffer) {
            qs::report("Out of memory while building the LTV update.");
            return nullptr;
        }
        std::memcpy(buffer.get(), update.data(), update.size());
        buffer.get()[update.size()] = '\0';
        *length = static_cast<long>(update.size());
        return buffer.release();
    });
}

QS_API int ltv_io(FILE *input, FILE *output, const char *cachedir) {
    return qs::guarded([&]() -> int {
        if (!input || !output) {
            qs::report("Missing input file or output file.");
            return -1;
        }
        qs::LtvContext context;
        context.cachedir = qs::cache_directory(cachedir);
        return run_ltv(input, output, context);
    });
}

}  // extern "C"
