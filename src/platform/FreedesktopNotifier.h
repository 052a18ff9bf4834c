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
//
// A server with the "body-markup" capability reads the body as markup, so a
// line such as "at Object.<anonymous>" would lose its "<anonymous>": for such
// a server the body is escaped. The capabilities are asked once, without
// waiting; notifications raised before the answer are sent when it arrives
// (or when the question fails or times out).
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

    struct State;

private:
    void send(const QString& title, const QString& body);

    std::unique_ptr<QDBusConnection> m_bus;
    std::shared_ptr<State> m_state;
};

} // namespace Wardlamp
