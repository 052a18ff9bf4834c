#include "StrictBase64.h"

#include <type_traits>

namespace Wardlamp {

namespace {

// A table, not a chain of range tests: payloads are random bytes, and
// every mispredicted branch per character would cost more than the lookup.
struct SextetTable {
    signed char values[256];
    constexpr SextetTable()
        : values {}
    {
        for (int i = 0; i < 256; ++i)
            values[i] = -1;
        for (int i = 0; i < 26; ++i) {
            values['A' + i] = static_cast<signed char>(i);
            values['a' + i] = static_cast<signed char>(26 + i);
        }
        for (int i = 0; i < 10; ++i)
            values['0' + i] = static_cast<signed char>(52 + i);
        values[int('+')] = 62;
        values[int('/')] = 63;
    }
};
constexpr SextetTable sextets;

int sextet(char16_t c)
{
    return c < 256 ? sextets.values[c] : -1;
}

template <typename Char> std::optional<QByteArray> decode(const Char* text, qsizetype length)
{
    if (length % 4 != 0)
        return std::nullopt;
    qsizetype padding = 0;
    if (length > 0 && text[length - 1] == Char('='))
        padding = (length > 1 && text[length - 2] == Char('=')) ? 2 : 1;
    QByteArray out;
    out.resize(length / 4 * 3 - padding);
    char* dst = out.data();
    for (qsizetype i = 0; i < length; i += 4) {
        const bool last = i + 4 == length;
        int values[4];
        for (int j = 0; j < 4; ++j)
            values[j] = sextet(static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(text[i + j])));
        if (last && padding > 0) {
            values[3] = 0;
            if (padding == 2)
                values[2] = 0;
        }
        if ((values[0] | values[1] | values[2] | values[3]) < 0)
            return std::nullopt;
        const quint32 group
            = (quint32(values[0]) << 18) | (quint32(values[1]) << 12) | (quint32(values[2]) << 6) | quint32(values[3]);
        // The bits that padding leaves unused must be zero: one text per byte string.
        if (last && padding == 2 && (group & 0xFFFF) != 0)
            return std::nullopt;
        if (last && padding == 1 && (group & 0xFF) != 0)
            return std::nullopt;
        const int produced = last ? 3 - int(padding) : 3;
        *dst++ = static_cast<char>(group >> 16);
        if (produced > 1)
            *dst++ = static_cast<char>((group >> 8) & 0xFF);
        if (produced > 2)
            *dst++ = static_cast<char>(group & 0xFF);
    }
    return out;
}

} // namespace

std::optional<QByteArray> decodeStrictBase64(QByteArrayView text)
{
    return decode(text.data(), text.size());
}

std::optional<QByteArray> decodeStrictBase64(QStringView text)
{
    return decode(text.utf16(), text.size());
}

} // namespace Wardlamp
