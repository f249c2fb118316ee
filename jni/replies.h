// The status lines the native methods answer with: "0#" and the result, or
// "-1#" with the reason and a number in brackets.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>

namespace qsjni {

// Replies are formed in buffers of these sizes (the terminating NUL included):
// longer ones are cut at a character boundary.
constexpr std::size_t kReply = 256;
constexpr std::size_t kMetadataReply = 512;

// The outcome of one library call: its result and the errno it left.
struct Outcome {
    int result;
    int error;
};

// Runs one library call. The message slot is emptied and errno cleared first,
// so that what the reply reports belongs to this call.
template <typename Call>
Outcome run_library_call(Call &&call);

// "0#" followed by text, cut to fit a buffer of size bytes.
std::string success_reply(const std::string &text, std::size_t size = kReply);

// "-1#%s [%d]": the system error and its number when the call left errno set,
// else the library's message and -999. The message slot is fetched either way,
// so that the next call's message is not swallowed by this one's.
std::string failure_reply(int error);

// The reply for a null String argument: the call is not made.
std::string null_argument_reply(const char *name);

// Empties the message slot (discarding its text).
void rearm_message_slot();

template <typename Call>
Outcome run_library_call(Call &&call) {
    rearm_message_slot();
    errno = 0;
    const int result = call();
    return {result, errno};
}

}  // namespace qsjni
