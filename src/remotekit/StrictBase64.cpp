#include "StrictBase64.h"

namespace Wardlamp {

namespace {

    int sextet(char16_t c)
    {
        if (c >= u'A' && c <= u'Z')
            return c - u'A';
        if (c >= u'a' && c <= u'z')
            return c - u'a' + 26;
        if (c >= u'0' && c <= u'9')
            return c - u'0' + 52;
        if (c == u'+')
            return 62;
        if (c == u'/')
            return 63;
        return -1;
    }

    template <typename Char>
    std::optional<QByteArray> decode(const Char* text, qsizetype length)
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
            for (int j = 0; j < 4; ++j) {
                const bool isPadding = last && j >= 4 - padding;
                values[j] = isPadding ? 0 : sextet(static_cast<char16_t>(text[i + j]));
                if (values[j] < 0)
                    return std::nullopt;
            }
            const quint32 group = (quint32(values[0]) << 18) | (quint32(values[1]) << 12) | (quint32(values[2]) << 6)
                | quint32(values[3]);
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
