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

} // namespace Wardlamp
