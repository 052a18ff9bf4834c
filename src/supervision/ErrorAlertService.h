#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>
#include <optional>

namespace Wardlamp {

class Notifier;
struct ServerConfig;

// Turns an error the supervisor recorded into an alert: one line on standard
// error, a desktop notification through the installed Notifier, and an
// optional hook. Alerts of one server closer than 30 s to its last alert are
// dropped without a trace (the last alert time is not refreshed).
//
// The program's object graph builds one and hands it to its ServerManager
// (ServerManagerOptions::alertService); the library never reaches for a
// process-wide one. shared() is such an instance, created on first use, for a
// program that wants one without building it. Used on the main thread only.
// The notifier is not owned and must outlive its installation; without one no
// notification is shown.
class ErrorAlertService {
public:
    using Clock = std::chrono::steady_clock;
    using Handler = std::function<void(const ServerConfig&, const QString&)>;
    static constexpr std::chrono::seconds debounce { 30 };
    // Length of a notification body in user-perceived characters.
    static constexpr int bodyLength = 180;

    ErrorAlertService();
    ErrorAlertService(const ErrorAlertService&) = delete;
    ErrorAlertService& operator=(const ErrorAlertService&) = delete;

    // Created on first use, thread-safe.
    static ErrorAlertService& shared();

    void alert(const ServerConfig& server, const QString& message);
    // Whether an alert for this server would be let through now (so a caller
    // can skip the work of choosing its text when it would be dropped).
    bool isDueFor(const QUuid& serverId) const;

    void setNotifier(Notifier* notifier) { m_notifier = notifier; }
    void setCustomHandler(Handler handler) { m_customHandler = std::move(handler); }
    // The time source of the debounce; a monotonic clock by default, so a
    // change of the wall clock cannot silence alerts.
    void setClock(std::function<Clock::time_point()> clock);

    // Decisions and texts, free of state.
    static bool isDue(std::optional<Clock::time_point> lastAlert, Clock::time_point now);
    static QByteArray logLine(const QString& name, const QString& message);
    static QString notificationTitle(const QString& name);
    static QString notificationBody(const QString& message);

private:
    Notifier* m_notifier = nullptr;
    Handler m_customHandler;
    std::function<Clock::time_point()> m_clock;
    QHash<QUuid, Clock::time_point> m_lastAlert;
};

} // namespace Wardlamp
