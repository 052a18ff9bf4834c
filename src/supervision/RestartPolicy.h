#pragma once

#include <chrono>
#include <optional>

namespace Wardlamp {

// Cooldown decisions of the supervisor. Pure: the time comes in.
class RestartPolicy {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // An automatic crash restart is allowed when none happened yet, or the last
    // one is at least `cooldown` ago.
    static bool canAutoRestart(
        std::optional<TimePoint> lastRestartAt, TimePoint now, std::chrono::milliseconds cooldown);

    // A new port recovery may begin when none began yet, or the last one began
    // at least `cooldown` ago.
    static bool canRecoverPort(
        std::optional<TimePoint> lastRecoveryAt, TimePoint now, std::chrono::milliseconds cooldown);
};

} // namespace Wardlamp
