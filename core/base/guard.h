// The one boundary between the C interface and the C++ inside: the body runs,
// and any exception becomes a reported message and a failure result (-1, or a
// null pointer for entry points that hand back a buffer).
#pragma once

#include <exception>
#include <string>
#include <type_traits>

#include <quillseal/core.h>

namespace qs {

// Reports text through the message slot (mode 1; the first report wins).
void report(const std::string &text);
// The same for a C text; it allocates nothing, so it cannot throw.
void report(const char *text) noexcept;
// Leaves text in the free slot as a note about an operation that succeeded,
// without holding the slot: any later report replaces it.
void leave_note(const std::string &text);

// A step whose failure the operation tolerates (an OCSP responder that is
// down while signing, say). A message the step reports while the slot is
// free is taken back out by take(), so that it never stands in for the text
// of a later failure; the caller can still write it to the debug log.
class ToleratedFailure {
public:
    ToleratedFailure();
    // The text reported since construction, with the slot free again; empty
    // when nothing was reported, or when an earlier report already held the slot.
    std::string take();

private:
    bool slot_was_taken_;
};

template <typename Body>
auto guarded(Body &&body) noexcept -> decltype(body()) {
    using Result = decltype(body());
    try {
        return body();
    } catch (const std::exception &e) {
        report(e.what());
    } catch (...) {
        report("Unexpected internal error.");
    }
    if constexpr (std::is_void_v<Result>)
        return;
    else if constexpr (std::is_pointer_v<Result>)
        return nullptr;
    else
        return static_cast<Result>(-1);
}

template <typename Body>
auto guarded_ptr(Body &&body) noexcept -> decltype(body()) {
    static_assert(std::is_pointer_v<decltype(body())>, "guarded_ptr guards entry points that return a pointer");
    return guarded(std::forward<Body>(body));
}

}  // namespace qs
