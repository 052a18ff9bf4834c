#pragma once

#include <array>

namespace Wardlamp {

// Word characters of the error expression: without Unicode properties only
// these bytes are \w, and every byte of a non-ASCII character is a non-word
// character. Shared by the expression's fast path and the line classifier.
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

} // namespace Wardlamp
