#include "ReconnectSchedule.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace Wardlamp {

double ReconnectSchedule::backoffSeconds(int attempt)
{
    // 0.5 × 2^6 = 32 already passes the cap; clamping n keeps 2^n finite for any count.
    const int n = std::clamp(attempt, 0, 16);
    return std::min(std::ldexp(baseSeconds, n), capSeconds);
}

double ReconnectSchedule::jitterSeconds(quint64 r)
{
    if (r >= drawLimit)
        return maxJitterSeconds;
    return maxJitterSeconds * static_cast<double>(r) / static_cast<double>(drawLimit);
}

double ReconnectSchedule::delaySeconds(int attempt, quint64 r)
{
    return backoffSeconds(attempt) + jitterSeconds(r);
}

std::chrono::milliseconds ReconnectSchedule::delay(int attempt, quint64 r, double timeScale)
{
    const double scale = timeScale > 0 ? timeScale : 1.0;
    return std::chrono::milliseconds(std::llround(delaySeconds(attempt, r) * 1000.0 * scale));
}

quint64 ReconnectSchedule::draw()
{
    constexpr quint64 mask = (drawLimit << 1) - 1; // 54 bits: 0 .. 2^54 - 1
    for (;;) {
        const quint64 r = QRandomGenerator::system()->generate64() & mask;
        if (r <= drawLimit)
            return r;
    }
}

} // namespace Wardlamp
