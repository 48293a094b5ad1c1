// One matcher for the patterns of the tests, written two ways: a scenario's
// "lines", where {*} stands for any text within a line, {?} for one
// character and {#} for one digit, and the printf formats of the program's
// own texts, which the reliability test holds every box's text to.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace pattern {

// A pattern's first Size characters stand for Least to Most of a text's, each one Takes.
struct Part {
    size_t Size, Least, Most;
    bool (*Takes)(const char* part, char c, size_t n);
};

inline bool Same(const char* part, char c, size_t) { return c == *part; }
inline bool Any(const char*, char, size_t) { return true; }
inline bool InLine(const char*, char c, size_t) { return c != '\r' && c != '\n'; }
inline bool Digit(const char*, char c, size_t) { return c >= '0' && c <= '9'; }
inline bool Number(const char*, char c, size_t n) { return (c >= '0' && c <= '9') || (n == 0 && c == '-'); }
inline bool UpperHex(const char*, char c, size_t) { return strchr("0123456789ABCDEF", c) != nullptr; }
inline bool LowerHex(const char*, char c, size_t) { return strchr("0123456789abcdef", c) != nullptr; }

// {*} any text within a line, {?} one character of it, {#} one digit.
inline Part Braces(const char* p) {
    if (p[0] != '{' || !p[1] || !strchr("*?#", p[1]) || p[2] != '}')
        return {1, 1, 1, Same};
    return {3, p[1] == '*' ? 0u : 1u, p[1] == '*' ? SIZE_MAX : 1, p[1] == '#' ? Digit : InLine};
}

// %s %S any text within a line, %u digits, %d a number, %X %x hex digits of their
// case (8 at most), each at least as many as its width; %c one character, %% '%'.
inline Part Printf(const char* p) {
    if (p[0] != '%' || p[1] == '%')
        return {p[0] == '%' ? 2u : 1u, 1, 1, Same};
    const char* type = p + 1 + strspn(p + 1, "0123456789lh");
    size_t size = type + 1 - p, least = atoi(p + 1) > 1 ? atoi(p + 1) : 1;
    if (*type == 's' || *type == 'S')
        return {size, 0, SIZE_MAX, InLine};
    if (*type == 'u' || *type == 'd')
        return {size, least, SIZE_MAX, *type == 'u' ? Digit : Number};
    if (*type == 'X' || *type == 'x')
        return {size, least, 8, *type == 'X' ? UpperHex : LowerHex};
    return {size, 1, *type == 'c' ? 1u : 0u, Any};  // no text is the output of another conversion
}

// Whether `text` matches `pattern` as `read` reads it; with `cut`, a text
// that was cut short may end anywhere in the pattern.
inline bool Matches(const char* text, const char* pattern, Part (*read)(const char*), bool cut = false) {
    if (!*pattern || (cut && !*text))
        return !*text;
    Part part = read(pattern);
    for (size_t n = 0;; n++) {
        if (n >= part.Least && Matches(text + n, pattern + part.Size, read, cut))
            return true;
        if (n == part.Most || !text[n] || !part.Takes(pattern, text[n], n))
            return false;
    }
}

}  // namespace pattern
