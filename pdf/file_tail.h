// The input's tail: the last "%%EOF" and the "startxref" value before it.
#pragma once

#include <cstdio>

namespace qs {

struct FileTail {
    long size = 0;       // input size in bytes
    long startxref = 0;  // offset of the "startxref" keyword
    long prev = 0;       // offset of the last cross-reference section
};

// Reads the tail of input; false with the message reported when it is damaged.
bool read_file_tail(std::FILE *input, FileTail &tail);

// PDF white space: blank, tab, carriage return, line feed, form feed and NUL.
inline bool is_pdf_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0';
}

// PDF delimiters: the characters that end a token without being white space.
inline bool is_pdf_delimiter(char c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' ||
           c == '/' || c == '%';
}

// Distance from the end back to the first "%" of the last "%%EOF", the file
// size when there is none, or -1 when the file cannot be read.
long find_eof_from_end(std::FILE *input);

}  // namespace qs
