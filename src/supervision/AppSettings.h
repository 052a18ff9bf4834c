#pragma once

#include <QLatin1StringView>
#include <QObject>

class QSettings;

namespace Wardlamp {

// Application-wide preferences outside the server list and remote access:
// whether push notifications to the phone are wanted. Written through to the
// settings on every assignment. Main thread; the settings outlive it.
class AppSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool pushEnabled READ pushEnabled WRITE setPushEnabled NOTIFY pushEnabledChanged)

public:
    static constexpr QLatin1StringView pushEnabledKey { "wardlamp.push.enabled" };

    explicit AppSettings(QSettings& settings, QObject* parent = nullptr);

    bool pushEnabled() const { return m_pushEnabled; }
    void setPushEnabled(bool enabled);

Q_SIGNALS:
    void pushEnabledChanged(bool enabled);

private:
    QSettings& m_settings;
    bool m_pushEnabled = false;
};

} // namespace Wardlamp
