#include "WebSocketHandshake.h"

#include <openssl/evp.h>

#include <algorithm>

namespace Wardlamp {

namespace {
constexpr std::string_view handshakeGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

bool isBase64Character(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}
} // namespace

std::optional<std::string> WebSocketHandshake::acceptValue(std::string_view key)
{
    // 16 bytes are 22 base64 characters and "==".
    if (key.size() != 24 || key.substr(22) != "==" || !std::all_of(key.begin(), key.begin() + 22, isBase64Character))
        return std::nullopt;
    std::string input(key);
    input.append(handshakeGuid);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestBytes = 0;
    if (EVP_Digest(input.data(), input.size(), digest, &digestBytes, EVP_sha1(), nullptr) != 1)
        return std::nullopt;
    unsigned char encoded[64];
    const int encodedBytes = EVP_EncodeBlock(encoded, digest, static_cast<int>(digestBytes));
    return std::string(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(encodedBytes));
}

std::string WebSocketHandshake::response(std::string_view acceptValue)
{
    std::string text = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                       "Sec-WebSocket-Accept: ";
    text.append(acceptValue);
    text.append("\r\nServer: wardlamp-relay\r\n\r\n");
    return text;
}

} // namespace Wardlamp
