#include "AppSettings.h"

#include <QSettings>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

// A hand-edited value that is neither a boolean nor "true"/"false" reads as
// false rather than whatever QVariant::toBool makes of it.
bool readFlag(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString)
        return value.toString().trimmed().compare(u"true"_s, Qt::CaseInsensitive) == 0;
    return false;
}

} // namespace

AppSettings::AppSettings(QSettings& settings, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_pushEnabled(readFlag(settings.value(pushEnabledKey)))
{
}

void AppSettings::setPushEnabled(bool enabled)
{
    m_settings.setValue(pushEnabledKey, enabled);
    m_settings.sync();
    if (enabled == m_pushEnabled)
        return;
    m_pushEnabled = enabled;
    Q_EMIT pushEnabledChanged(enabled);
}

} // namespace Wardlamp
