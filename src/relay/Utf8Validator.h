#pragma once

#include <string_view>

namespace Wardlamp {

// Checks text frames before the relay forwards them: well-formed UTF-8 as RFC 3629
// has it (no overlong forms, no surrogates, nothing past U+10FFFF). Pure.
class Utf8Validator {
public:
    static bool isValid(std::string_view text);
};

} // namespace Wardlamp
