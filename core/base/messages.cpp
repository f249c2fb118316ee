// The process-wide message slot, its latch, and the debug log.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <quillseal/core.h>

#include "core/base/guard.h"
#include "core/base/handles.h"
#include "core/base/text.h"
#include "core/base/version.h"

namespace {

char g_slot[qs::kTextField] = "";
int g_latch = 0;

}  // namespace

namespace qs {

void report(const std::string &text) {
    handle_error_message(const_cast<char *>(text.c_str()), 1);
}

void report(const char *text) noexcept { handle_error_message(const_cast<char *>(text ? text : ""), 1); }

void leave_note(const std::string &text) { handle_error_message(const_cast<char *>(text.c_str()), 2); }

ToleratedFailure::ToleratedFailure() : slot_was_taken_(g_latch != 0) {}

std::string ToleratedFailure::take() {
    if (slot_was_taken_ || g_latch == 0) return std::string();
    char text[qs::kTextField];
    handle_error_message(text, 0);
    g_slot[0] = '\0';
    return text;
}

}  // namespace qs

extern "C" {

QS_API void handle_error_message(char *message, int mode) {
    if (mode > 0) {
        if (g_latch != 0) return;
        errno = 0;
        qs::copy_field(g_slot, qs::view(message));
        if (mode == 1) g_latch = 1;
    } else if (mode == 0) {
        if (message) qs::copy_bounded(message, qs::kTextField, g_slot);
        g_latch = 0;
    }
}

QS_API int handle_fopen_error_message(const char *path) {
    const char *reason = std::strerror(errno);
    char text[qs::kTextField];
    // The reason is kept whole where it can be; a long path is cut to fit.
    std::snprintf(text, sizeof text, "%s [File: %s]", reason, path ? path : "");
    handle_error_message(text, 1);
    return 0;
}

QS_API void get_debug_timestamp(time_t t, char *out) {
    char stamp[qs::kTextField] = "";
    struct tm local {};
    if (localtime_r(&t, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    if (out) qs::copy_bounded(out, qs::kTextField, stamp);
}

QS_API void handle_debug_message(SigningConfig *config, const char *text) {
    if (!config || std::strcmp(config->debug, "on") != 0) return;
    // Logging never disturbs errno, which the front ends read after a failed operation.
    const int saved = errno;
    char line[qs::kTextField];
    char stamp[qs::kTextField];
    get_debug_timestamp(std::time(nullptr), stamp);
    // The line is bounded to the 256-byte record; a cut line still ends with its newline.
    int n = std::snprintf(line, sizeof line - 1, "%s [core]: %s", stamp, text ? text : "");
    if (n < 0) n = 0;
    std::size_t length = static_cast<std::size_t>(n) < sizeof line - 2 ? static_cast<std::size_t>(n) : sizeof line - 2;
    line[length++] = '\n';
    line[length] = '\0';
    if (qs::FilePtr log = qs::open_file(config->logfile, "a+")) std::fputs(line, log.get());
    errno = saved;
}

QS_API int quillseal_version(char *out) {
    char text[qs::kTextField];
    std::snprintf(text, sizeof text, "%s, %s", qs::kProductVersion,
                  "PDF digital signatures for Linux servers. Built with OpenSSL and qpdf.");
    if (out) qs::copy_bounded(out, qs::kTextField, text);
    return 0;
}

}  // extern "C"
