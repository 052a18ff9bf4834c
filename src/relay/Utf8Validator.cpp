#include "Utf8Validator.h"

#include <cstdint>
#include <cstring>

namespace Wardlamp {

bool Utf8Validator::isValid(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        // Envelopes are nearly all ASCII (base64 payloads): eight bytes at a time.
        if (i + 8 <= size) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes + i, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xbf; // allowed range of the second byte
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            if (lead == 0xe0)
                low = 0xa0; // overlong
            else if (lead == 0xed)
                high = 0x9f; // surrogates
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            if (lead == 0xf0)
                low = 0x90; // overlong
            else if (lead == 0xf4)
                high = 0x8f; // past U+10FFFF
        } else {
            return false;
        }
        if (i + length > size)
            return false;
        if (bytes[i + 1] < low || bytes[i + 1] > high)
            return false;
        for (std::size_t k = 2; k < length; ++k)
            if ((bytes[i + k] & 0xc0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

} // namespace Wardlamp
