#include "jni/replies.h"

#include <cstring>

#include <quillseal/quillseal.h>

#include "jni/java_text.h"

namespace qsjni {
namespace {

constexpr int kLibraryMessage = -999;

// "-1#" + reason + " [number]" within the reply buffer: the reason is cut so
// that the number always shows.
std::string failure_line(const std::string &reason, int number) {
    const std::string suffix = " [" + std::to_string(number) + "]";
    const std::size_t room = kReply - 1 - 3 - suffix.size();
    return "-1#" + utf8_prefix(reason, room) + suffix;
}

}  // namespace

void rearm_message_slot() {
    char discarded[kReply];
    handle_error_message(discarded, 0);
}

std::string success_reply(const std::string &text, std::size_t size) { return utf8_prefix("0#" + text, size - 1); }

std::string failure_reply(int error) {
    char message[kReply] = "";
    handle_error_message(message, 0);
    if (error != 0) return failure_line(std::strerror(error), error);
    return failure_line(message, kLibraryMessage);
}

std::string null_argument_reply(const char *name) {
    return failure_line(std::string("The argument ") + name + " is null.", kLibraryMessage);
}

}  // namespace qsjni
