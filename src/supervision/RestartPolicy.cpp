#include "RestartPolicy.h"

namespace Wardlamp {

bool RestartPolicy::canAutoRestart(
    std::optional<TimePoint> lastRestartAt, TimePoint now, std::chrono::milliseconds cooldown)
{
    return !lastRestartAt || now - *lastRestartAt >= cooldown;
}

bool RestartPolicy::canRecoverPort(
    std::optional<TimePoint> lastRecoveryAt, TimePoint now, std::chrono::milliseconds cooldown)
{
    return !lastRecoveryAt || now - *lastRecoveryAt >= cooldown;
}

} // namespace Wardlamp
