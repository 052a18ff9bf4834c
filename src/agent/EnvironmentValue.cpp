#include "EnvironmentValue.h"

#include "supervision/SettingsFlag.h"

#include <QByteArray>

namespace Wardlamp {

bool EnvironmentValue::readBoolean(QStringView text)
{
    // One rule for every flag variable; wardlampd reads WL_REMOTE_ENABLED with it too.
    return readEnvironmentFlag(text);
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
