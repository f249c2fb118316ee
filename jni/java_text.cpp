#include "jni/java_text.h"

#include <cstring>

namespace qsjni {
namespace {

constexpr const char *kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool in(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

// Length of the well-formed UTF-8 character at text[at], or 0 when the bytes
// there are none (overlong forms, surrogates and values past U+10FFFF included).
std::size_t character_length(const std::string &text, std::size_t at) {
    const auto byte = [&](std::size_t k) -> unsigned char {
        return at + k < text.size() ? static_cast<unsigned char>(text[at + k]) : 0;
    };
    const unsigned char lead = byte(0);
    const auto tail = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k)
            if (!in(byte(k), 0x80, 0xBF)) return false;
        return true;
    };
    if (lead >= 0x01 && lead <= 0x7F) return 1;
    if (in(lead, 0xC2, 0xDF)) return tail(1, 2) ? 2 : 0;
    if (lead == 0xE0) return in(byte(1), 0xA0, 0xBF) && tail(2, 3) ? 3 : 0;
    if (lead == 0xED) return in(byte(1), 0x80, 0x9F) && tail(2, 3) ? 3 : 0;
    if (in(lead, 0xE1, 0xEF)) return tail(1, 3) ? 3 : 0;
    if (lead == 0xF0) return in(byte(1), 0x90, 0xBF) && tail(2, 4) ? 4 : 0;
    if (in(lead, 0xF1, 0xF3)) return tail(1, 4) ? 4 : 0;
    if (lead == 0xF4) return in(byte(1), 0x80, 0x8F) && tail(2, 4) ? 4 : 0;
    return 0;
}

void append_three_bytes(std::string &out, unsigned unit) {
    out += static_cast<char>(0xE0 | (unit >> 12));
    out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
}

// The UTF-16 unit of an encoded surrogate (ED A0..BF xx) at text[at], or 0.
unsigned surrogate_at(const char *text, std::size_t at) {
    const auto *p = reinterpret_cast<const unsigned char *>(text + at);
    if (p[0] != 0xED || !in(p[1], 0xA0, 0xBF) || !in(p[2], 0x80, 0xBF)) return 0;
    return 0xD000u | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
}

}  // namespace

std::string standard_utf8(const char *modified) {
    std::string out;
    const std::size_t length = std::strlen(modified);
    for (std::size_t at = 0; at < length;) {
        const unsigned unit = surrogate_at(modified, at);
        if (unit == 0) {
            out += modified[at++];
            continue;
        }
        const unsigned low = at + 3 < length ? surrogate_at(modified, at + 3) : 0;
        if (unit <= 0xDBFF && low >= 0xDC00) {
            const unsigned code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
            at += 6;
        } else {
            out += kReplacement;
            at += 3;
        }
    }
    return out;
}

std::string modified_utf8(const std::string &standard) {
    std::string out;
    out.reserve(standard.size());
    for (std::size_t at = 0; at < standard.size();) {
        const std::size_t length = character_length(standard, at);
        if (length == 0) {
            out += kReplacement;
            ++at;
        } else if (length == 4) {
            const auto *p = reinterpret_cast<const unsigned char *>(standard.data() + at);
            const unsigned code = ((p[0] & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) |
                                  (p[3] & 0x3Fu);
            append_three_bytes(out, 0xD800 + ((code - 0x10000) >> 10));
            append_three_bytes(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
            at += 4;
        } else {
            out.append(standard, at, length);
            at += length;
        }
    }
    return out;
}

std::string utf8_prefix(const std::string &text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

jstring new_java_string(JNIEnv *env, const std::string &text) {
    return env->NewStringUTF(modified_utf8(text).c_str());
}

JavaText::JavaText(JNIEnv *env, jstring value) : env_(env), value_(value) {
    if (!value_) return;
    chars_ = env_->GetStringUTFChars(value_, nullptr);
    if (!chars_ || !std::strchr(chars_, '\xED')) return;
    try {
        standard_ = standard_utf8(chars_);
        converted_ = true;
    } catch (...) {
        env_->ReleaseStringUTFChars(value_, chars_);
        throw;
    }
}

JavaText::JavaText(JavaText &&other) noexcept
    : env_(other.env_), value_(other.value_), chars_(other.chars_), standard_(std::move(other.standard_)),
      converted_(other.converted_) {
    other.chars_ = nullptr;
}

JavaText::~JavaText() {
    if (chars_) env_->ReleaseStringUTFChars(value_, chars_);
}

const char *JavaText::c_str() const {
    if (!chars_) return "";
    return converted_ ? standard_.c_str() : chars_;
}

Arguments::Arguments(JNIEnv *env, std::initializer_list<Argument> arguments) {
    texts_.reserve(arguments.size());
    names_.reserve(arguments.size());
    for (const Argument &argument : arguments) {
        texts_.emplace_back(env, argument.value);
        names_.push_back(argument.name);
        if (!texts_.back().obtained()) {
            obtained_ = false;
            return;
        }
    }
}

const char *Arguments::first_null() const {
    for (std::size_t i = 0; i < texts_.size(); ++i)
        if (texts_[i].is_null()) return names_[i];
    return nullptr;
}

}  // namespace qsjni
