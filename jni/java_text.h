// Texts crossing between Java and the library. The JVM hands out and takes in
// modified UTF-8 (characters beyond the BMP as two encoded surrogates); the
// library speaks standard UTF-8. Both directions are converted here, so a
// character such as an emoji in a path or a title arrives whole, and a reply
// never hands the JVM bytes it cannot read.
#pragma once

#include <jni.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

namespace qsjni {

// The text of one Java string argument, obtained with GetStringUTFChars and
// released with ReleaseStringUTFChars when the holder goes.
class JavaText {
public:
    JavaText(JNIEnv *env, jstring value);
    ~JavaText();
    JavaText(JavaText &&other) noexcept;
    JavaText(const JavaText &) = delete;
    JavaText &operator=(const JavaText &) = delete;
    JavaText &operator=(JavaText &&) = delete;

    // False when a string was given and the JVM could not hand out its text
    // (an exception is then pending).
    bool obtained() const { return !value_ || chars_; }
    bool is_null() const { return !value_; }
    // The text in standard UTF-8 (empty for a null string).
    const char *c_str() const;

private:
    JNIEnv *env_;
    jstring value_;
    const char *chars_ = nullptr;
    std::string standard_;  // set only when the JVM's text needed converting
    bool converted_ = false;
};

// A Java string argument and its parameter name, as the failure reply names it.
struct Argument {
    jstring value;
    const char *name;
};

// The texts of one call's arguments, obtained in parameter order. Obtaining
// stops at the first text the JVM cannot hand out; those already obtained are
// released with the list.
class Arguments {
public:
    Arguments(JNIEnv *env, std::initializer_list<Argument> arguments);
    bool obtained() const { return obtained_; }
    // The name of the first null argument, or null when there is none.
    const char *first_null() const;
    const char *operator[](std::size_t index) const { return texts_[index].c_str(); }

private:
    std::vector<JavaText> texts_;
    std::vector<const char *> names_;
    bool obtained_ = true;
};

// Standard UTF-8 of the JVM's modified UTF-8: an encoded surrogate pair becomes
// one four-byte character; a lone surrogate becomes U+FFFD.
std::string standard_utf8(const char *modified);

// Modified UTF-8 of a library text: a four-byte character becomes an encoded
// surrogate pair; bytes that are not UTF-8 become U+FFFD.
std::string modified_utf8(const std::string &standard);

// The longest start of text within limit bytes that cuts no character in two.
std::string utf8_prefix(const std::string &text, std::size_t limit);

// A reply as a new Java string (null only when the JVM is out of memory).
jstring new_java_string(JNIEnv *env, const std::string &text);

}  // namespace qsjni
