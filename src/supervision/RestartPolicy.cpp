#include "RestartPolicy.h"

namespace Wardlamp {

bool RestartPolicy::canAutoRestart(
    std::optional<TimePoint> lastRestartAt, TimePoint now, std::chrono::milliseconds cooldown)
{
    return !lastRestartAt || now - *lastRestartAt >= cooldown;
}

bool RestartPolicy::claimRestart(bool restartOnCrash, TimePoint now)
{
    if (!restartOnCrash || !canAutoRestart(now))
        return false;
    m_lastRestartAt = now;
    return true;
}

} // namespace Wardlamp
