#pragma once

#include "Frame.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Wardlamp {

// The frames the relay writes, in their wire form: FIN set, no mask, no extension,
// the shortest length encoding. Pure functions; the relay builds each frame once and
// shares it between every connection it goes to.
class WireFrame {
public:
    enum class Opcode : std::uint8_t { text = 0x1, binary = 0x2, close = 0x8, ping = 0x9, pong = 0xa };

    // Bytes of the header before a payload of `payloadBytes`: 2, 4 or 10.
    static std::size_t headerBytes(std::size_t payloadBytes);
    // Writes the header of a final frame into `out`, which has headerBytes(payloadBytes) bytes.
    static void writeHeader(char* out, Opcode opcode, std::size_t payloadBytes);

    static Frame text(std::string_view payload);
    // A close frame with `code` and `reason` (cut to the 123 bytes a control frame leaves
    // for it); code 0 sends a close frame without a body.
    static Frame close(std::uint16_t code, std::string_view reason);
    static Frame ping();
    // The answer to a ping carrying `payload` (at most 125 bytes).
    static Frame pong(std::string_view payload);

    // The payload of a frame written by this class.
    static std::string_view payload(std::string_view frame);
};

} // namespace Wardlamp
