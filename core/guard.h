// The one boundary between the C interface and the C++ inside: the body runs,
// and any exception becomes a reported message and the result -1.
#pragma once

#include <exception>
#include <string>

#include <quillseal/core.h>

namespace qs {

// Reports text through the message slot (mode 1; the first report wins).
void report(const std::string &text);

template <typename Body>
auto guarded(Body &&body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception &e) {
        report(e.what());
    } catch (...) {
        report("Unexpected internal error.");
    }
    return static_cast<decltype(body())>(-1);
}

// For entry points that hand back a pointer: a failure yields a null pointer.
template <typename Body>
auto guarded_ptr(Body &&body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception &e) {
        report(e.what());
    } catch (...) {
        report("Unexpected internal error.");
    }
    return nullptr;
}

}  // namespace qs
