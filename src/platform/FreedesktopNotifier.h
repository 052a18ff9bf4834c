#pragma once

#include "supervision/Notifier.h"

#include <QLatin1StringView>

#include <memory>

class QDBusConnection;

namespace Wardlamp {

// Shows desktop notifications through org.freedesktop.Notifications on the
// session bus. Fire and forget: the call is sent asynchronously and its reply
// ignored, so a missing bus or a missing notification service costs nothing
// and never blocks. Main thread.
class FreedesktopNotifier : public Notifier {
public:
    static constexpr QLatin1StringView appName { "Wardlamp" };
    static constexpr QLatin1StringView iconName { "dialog-warning" };

    // Uses the session bus.
    FreedesktopNotifier();
    // Uses the given connection (tests hand in their own).
    explicit FreedesktopNotifier(const QDBusConnection& bus);
    ~FreedesktopNotifier() override;
    FreedesktopNotifier(const FreedesktopNotifier&) = delete;
    FreedesktopNotifier& operator=(const FreedesktopNotifier&) = delete;

    void notify(const QString& title, const QString& body) override;

private:
    std::unique_ptr<QDBusConnection> m_bus;
};

} // namespace Wardlamp
