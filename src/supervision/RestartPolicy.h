#pragma once

#include <chrono>
#include <optional>

namespace Wardlamp {

// Whether a server that crashed may be started again automatically: only when
// its configuration asks for it, and at most once per cooldown counted from
// the last automatic restart, so a server that crashes at once on every start
// is restarted exactly once. Manual starts and restarts do not count; a port
// recovery forgets the last automatic restart.
//
// One per server, in the manager's record of it (main thread). The time comes
// in; canAutoRestart() is the decision itself, free of state.
class RestartPolicy {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    static constexpr std::chrono::milliseconds defaultCooldown { 5000 };

    explicit RestartPolicy(std::chrono::milliseconds cooldown = defaultCooldown)
        : m_cooldown(cooldown)
    {
    }

    // Allowed when no automatic restart happened yet, or the last one is at
    // least `cooldown` ago.
    static bool canAutoRestart(
        std::optional<TimePoint> lastRestartAt, TimePoint now, std::chrono::milliseconds cooldown);

    bool canAutoRestart(TimePoint now) const { return canAutoRestart(m_lastRestartAt, now, m_cooldown); }
    // A crash: true when the server is to be restarted, which then counts as
    // its last automatic restart.
    bool claimRestart(bool restartOnCrash, TimePoint now);
    // A port recovery began: the next crash may be restarted at once.
    void forget() { m_lastRestartAt.reset(); }
    std::optional<TimePoint> lastRestartAt() const { return m_lastRestartAt; }

private:
    std::chrono::milliseconds m_cooldown;
    std::optional<TimePoint> m_lastRestartAt;
};

} // namespace Wardlamp
