#include "AppSettings.h"

#include "SettingsFlag.h"

#include <QSettings>

namespace Wardlamp {

AppSettings::AppSettings(QSettings& settings, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_pushEnabled(readSettingsFlag(settings.value(pushEnabledKey)))
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
