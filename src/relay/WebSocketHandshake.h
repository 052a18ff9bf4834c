#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Wardlamp {

// The server side of the WebSocket opening handshake once the request has been
// routed: checks the key and version headers and writes the 101 answer. Pure.
class WebSocketHandshake {
public:
    // The Sec-WebSocket-Accept value for a Sec-WebSocket-Key, or nothing when the key
    // is not the base64 form of 16 bytes.
    static std::optional<std::string> acceptValue(std::string_view key);
    // Only version 13 is spoken; anything else is answered 426 naming it.
    static bool isSupportedVersion(std::string_view version) { return version == "13"; }
    // The whole "101 Switching Protocols" answer.
    static std::string response(std::string_view acceptValue);
};

} // namespace Wardlamp
