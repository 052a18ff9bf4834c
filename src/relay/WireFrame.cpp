#include "WireFrame.h"

#include <algorithm>

namespace Wardlamp {

namespace {

constexpr std::size_t maxControlPayload = 125;

Frame build(WireFrame::Opcode opcode, std::string_view payload)
{
    std::string frame(WireFrame::headerBytes(payload.size()), '\0');
    WireFrame::writeHeader(frame.data(), opcode, payload.size());
    frame.append(payload);
    return std::make_shared<const std::string>(std::move(frame));
}

} // namespace

std::size_t WireFrame::headerBytes(std::size_t payloadBytes)
{
    if (payloadBytes < 126)
        return 2;
    return payloadBytes <= 0xffff ? 4 : 10;
}

void WireFrame::writeHeader(char* out, Opcode opcode, std::size_t payloadBytes)
{
    auto* bytes = reinterpret_cast<unsigned char*>(out);
    bytes[0] = static_cast<unsigned char>(0x80 | static_cast<unsigned>(opcode));
    if (payloadBytes < 126) {
        bytes[1] = static_cast<unsigned char>(payloadBytes);
    } else if (payloadBytes <= 0xffff) {
        bytes[1] = 126;
        bytes[2] = static_cast<unsigned char>(payloadBytes >> 8);
        bytes[3] = static_cast<unsigned char>(payloadBytes);
    } else {
        bytes[1] = 127;
        const auto length = static_cast<std::uint64_t>(payloadBytes);
        for (int i = 0; i < 8; ++i)
            bytes[2 + i] = static_cast<unsigned char>(length >> (56 - 8 * i));
    }
}

Frame WireFrame::text(std::string_view payload)
{
    return build(Opcode::text, payload);
}

Frame WireFrame::close(std::uint16_t code, std::string_view reason)
{
    if (code == 0)
        return build(Opcode::close, {});
    std::string body;
    body.push_back(static_cast<char>(code >> 8));
    body.push_back(static_cast<char>(code & 0xff));
    // Cut at a character boundary: the reason must stay valid UTF-8.
    std::size_t length = std::min(reason.size(), maxControlPayload - 2);
    while (length > 0 && length < reason.size() && (static_cast<unsigned char>(reason[length]) & 0xc0) == 0x80)
        --length;
    body.append(reason.substr(0, length));
    return build(Opcode::close, body);
}

Frame WireFrame::ping()
{
    static const Frame frame = build(Opcode::ping, {});
    return frame;
}

Frame WireFrame::pong(std::string_view payload)
{
    return build(Opcode::pong, payload.substr(0, std::min(payload.size(), maxControlPayload)));
}

std::string_view WireFrame::payload(std::string_view frame)
{
    if (frame.size() < 2)
        return {};
    const auto length = static_cast<unsigned char>(frame[1]) & 0x7f;
    const std::size_t header = length < 126 ? 2 : length == 126 ? 4 : 10;
    return frame.substr(std::min(header, frame.size()));
}

} // namespace Wardlamp
