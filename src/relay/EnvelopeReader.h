#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Wardlamp {

// Reads the few envelope fields the relay acts on. The relay never rewrites an
// envelope: it forwards the bytes it received, so this only decides.
class EnvelopeReader {
public:
    struct Facts {
        std::string kind;
        std::optional<std::string> role;
        bool cache = false; // "cache": true

        bool operator==(const Facts&) const = default;
    };

    // A JSON object with a numeric "v" and a string "kind"; anything else (not JSON,
    // not an object, invalid UTF-8, no "kind") is no envelope.
    static std::optional<Facts> read(std::string_view text);
};

} // namespace Wardlamp
