#include "FreedesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {
// The server answers at once or not at all; the reply is never waited for.
constexpr int callTimeoutMs = 5000;
// Let the notification server choose how long the bubble stays.
constexpr int defaultExpiry = -1;
} // namespace

FreedesktopNotifier::FreedesktopNotifier()
    : FreedesktopNotifier(QDBusConnection::sessionBus())
{
}

FreedesktopNotifier::FreedesktopNotifier(const QDBusConnection& bus)
    : m_bus(std::make_unique<QDBusConnection>(bus))
{
}

FreedesktopNotifier::~FreedesktopNotifier() = default;

void FreedesktopNotifier::notify(const QString& title, const QString& body)
{
    if (!m_bus->isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.Notifications"_s,
        u"/org/freedesktop/Notifications"_s, u"org.freedesktop.Notifications"_s, u"Notify"_s);
    call << QString(appName) << uint(0) << QString(iconName) << title << body << QStringList() << QVariantMap()
         << defaultExpiry;
    // Without a service the bus answers with an error at once; either way the
    // pending reply is dropped.
    m_bus->asyncCall(call, callTimeoutMs);
}

} // namespace Wardlamp
