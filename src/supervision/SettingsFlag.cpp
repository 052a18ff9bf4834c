#include "SettingsFlag.h"

#include <QString>
#include <QVariant>

namespace Wardlamp {

using namespace Qt::StringLiterals;

bool readSettingsFlag(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString)
        return value.toString().trimmed().compare(u"true"_s, Qt::CaseInsensitive) == 0;
    return false;
}

bool readEnvironmentFlag(QStringView text)
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

} // namespace Wardlamp
