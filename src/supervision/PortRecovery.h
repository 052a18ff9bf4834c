#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <optional>

namespace Wardlamp {

class ListenerScanner;

// The busy-port recovery of one server. An in-use message in its output
// begins one, unless one is under way or the last one began less than the
// cooldown ago; the port's listeners are then freed (freePort(), off the main
// thread), and once both have happened, in either order, the port has been
// dealt with and the failing process has exited, the server is started again.
// A requested stop that completes, or a new start, abandons a recovery under
// way; its cooldown stays.
//
// One per server, in the manager's record of it (main thread). The time comes
// in; canBegin() is the cooldown decision itself, free of state. A recovery
// is numbered, so the result of one that was abandoned cannot complete a
// later one.
class PortRecovery {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    static constexpr std::chrono::milliseconds defaultCooldown { 10000 };
    // Between SIGTERM and SIGKILL to the port's listeners.
    static constexpr std::chrono::milliseconds killGrace { 400 };

    explicit PortRecovery(std::chrono::milliseconds cooldown = defaultCooldown)
        : m_cooldown(cooldown)
    {
    }

    // A recovery may begin when none began yet, or the last one began at
    // least `cooldown` ago.
    static bool canBegin(std::optional<TimePoint> lastBeganAt, TimePoint now, std::chrono::milliseconds cooldown);

    // An in-use message: the number of the recovery it begins, or nothing
    // when one is under way or the cooldown forbids it.
    std::optional<quint64> begin(TimePoint now);
    // The port of recovery `attempt` has been dealt with (listeners ended, or
    // none found). Ignored unless that recovery is the one under way.
    void portFreed(quint64 attempt);
    // Ends the recovery when the port has been dealt with and the failing
    // process is gone: true means start the server again.
    bool finish(bool processGone);
    // Drops the recovery under way, if any.
    void abandon();

    bool isRecovering() const { return m_recovering; }
    bool isPortFreed() const { return m_freed; }
    std::optional<TimePoint> lastBeganAt() const { return m_lastBeganAt; }

    // A process listening on the port, as the log names it.
    struct Holder {
        qint32 pid = 0;
        QString commandLine; // its arguments joined by spaces; empty when unreadable
    };

    // The server's log lines.
    static QString beginText(int port);
    // After an in-use message of a server that carried on with another port
    // (nothing was killed): "Port 5173 is held by PID 123 (python3 -m
    // http.server); the server went on."
    static QString heldText(int port, const QList<Holder>& holders);
    static QString resultText(int port, const QList<qint32>& pids);
    static QString restartText();

    // Blocks: SIGTERM to the port's listeners (never this process), then waits
    // for their exit, at most `grace`, and sends SIGKILL to those still there.
    // Holders that exit at once cost no waiting. Returns whom it sent SIGTERM, in the
    // scanner's order; none without a scanner or for a port out of range.
    // Touches no recovery's state: runs on a pool thread.
    static QList<qint32> freePort(
        const ListenerScanner* scanner, int port, std::chrono::milliseconds grace = killGrace);
    // Who listens on the port (never this process), touching nobody. Blocks
    // briefly: runs on a pool thread.
    static QList<Holder> holders(const ListenerScanner* scanner, int port);

private:
    std::chrono::milliseconds m_cooldown;
    std::optional<TimePoint> m_lastBeganAt;
    quint64 m_attempt = 0; // number of the last recovery begun
    bool m_recovering = false;
    bool m_freed = false;
};

} // namespace Wardlamp
