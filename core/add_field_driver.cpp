// The driver that prepares a form for signers who come later: configuration
// (for siglock), the update with the new empty signature field, then a copy
// of the input with the update appended, which becomes the output only whole.
#include <cstdio>
#include <string>

#include <quillseal/quillseal.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/input_file.h"
#include "core/base/text.h"
#include "core/output_path.h"
#include "core/prepared_file.h"
#include "core/storeless_config.h"
#include "pdf/empty_field.h"

namespace {

int add_field(std::FILE *input, std::FILE *output, const qs::EmptyFieldRequest &request) {
    qs::InputState opened;
    if (!qs::note_input(input, opened)) return -1;
    std::string update;
    if (!qs::build_empty_field_update(input, request, update)) return -1;
    return qs::append_to_copy(input, output, update, opened, "new field");
}

}  // namespace

extern "C" {

QS_API int add_signature_field(const char *input, const char *output, const char *name, int page,
                               const int rect[4], const char *configuration) {
    return qs::guarded([&]() -> int {
        if (!input || !output || !name || !name[0] || !rect) {
            qs::report("Missing input path, output path, field name or rectangle for the new field.");
            return -1;
        }
        // The configuration is read for siglock only: it needs no key store.
        qs::ConfigPtr config = qs::read_storeless_config(configuration);
        if (!config) return -1;
        qs::FieldLock lock;
        if (config->siglock[0] && !qs::parse_siglock(config->siglock, lock)) return -1;
        qs::EmptyFieldRequest request;
        request.name = name;
        request.page = page;
        for (int i = 0; i < 4; ++i) request.rect[i] = rect[i];
        if (config->siglock[0]) request.lock = &lock;

        if (qs::refuse_unusable_output(input, output) < 0) return -1;
        qs::FilePtr in = qs::open_input_file(input);
        if (!in) return -1;
        qs::PendingOutput out(output);
        if (!out.get()) return -1;
        handle_debug_message(config.get(), qs::format("Adding the field %s to %s into %s", name, input, output).c_str());
        int rc = add_field(in.get(), out.get(), request);
        in.reset();
        if (rc == 0 && !out.keep()) rc = -1;
        return rc;
    });
}

}  // extern "C"
