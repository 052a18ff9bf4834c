#pragma once

#include <QtGlobal>

#include <array>

namespace Wardlamp {

// The words of the error expression and its notion of a word, shared by the
// expression's ASCII fast path and the line classifier so both keep one list.

// Without Unicode properties only these bytes are \w; every byte of a
// non-ASCII character is a non-word character.
inline constexpr std::array<bool, 256> asciiWordBytes = [] {
    std::array<bool, 256> table {};
    for (int c = 0; c < 256; ++c)
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    return table;
}();

inline bool isAsciiWordByte(unsigned char c)
{
    return asciiWordBytes[c];
}

// `lowerWord` is lower-case ASCII; p holds at least `length` bytes.
inline bool equalsIgnoringAsciiCase(const char* p, const char* lowerWord, qsizetype length)
{
    for (qsizetype i = 0; i < length; ++i) {
        const char c = (p[i] >= 'A' && p[i] <= 'Z') ? static_cast<char>(p[i] | 0x20) : p[i];
        if (c != lowerWord[i])
            return false;
    }
    return true;
}

// With \b on both sides, a listed word matches exactly when a whole run of
// word characters equals it, ignoring case.
inline bool isErrorWord(const char* p, qsizetype length)
{
    switch (length) {
    case 5:
        return equalsIgnoringAsciiCase(p, "error", 5) || equalsIgnoringAsciiCase(p, "fatal", 5)
            || equalsIgnoringAsciiCase(p, "panic", 5);
    case 8:
        return equalsIgnoringAsciiCase(p, "uncaught", 8);
    case 9:
        return equalsIgnoringAsciiCase(p, "exception", 9) || equalsIgnoringAsciiCase(p, "unhandled", 9)
            || equalsIgnoringAsciiCase(p, "traceback", 9);
    case 10:
        return equalsIgnoringAsciiCase(p, "eaddrinuse", 10);
    case 12:
        return equalsIgnoringAsciiCase(p, "econnrefused", 12);
    default:
        return false;
    }
}

} // namespace Wardlamp
