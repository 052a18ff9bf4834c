#include "EnvironmentValue.h"

#include <QByteArray>

namespace Wardlamp {

bool EnvironmentValue::readBoolean(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i == text.size())
        return false;
    const char16_t first = text[i].unicode();
    if (first == u'Y' || first == u'y' || first == u'T' || first == u't')
        return true;
    if (first == u'+' || first == u'-')
        ++i;
    while (i < text.size() && text[i] == u'0')
        ++i;
    return i < text.size() && text[i] >= u'1' && text[i] <= u'9';
}

std::optional<SecretBytes> EnvironmentValue::decodeHexSecret(QStringView text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    auto nibble = [](char16_t c) -> int {
        if (c >= u'0' && c <= u'9')
            return c - u'0';
        if (c >= u'a' && c <= u'f')
            return c - u'a' + 10;
        if (c >= u'A' && c <= u'F')
            return c - u'A' + 10;
        return -1;
    };
    QByteArray bytes(text.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int high = nibble(text[2 * i].unicode());
        const int low = nibble(text[2 * i + 1].unicode());
        if (high < 0 || low < 0) {
            bytes.fill('\0');
            return std::nullopt;
        }
        bytes[i] = char(high * 16 + low);
    }
    SecretBytes secret(bytes);
    bytes.fill('\0');
    return secret;
}

} // namespace Wardlamp
