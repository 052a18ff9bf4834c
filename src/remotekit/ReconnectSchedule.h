#pragma once

#include <QtGlobal>

#include <chrono>

namespace Wardlamp {

// The back-off of RelayClient: after the n-th failure since the last successful
// open (n counted from 0) the next attempt waits min(0.5 s × 2^n, 30 s) plus a
// jitter in [0, 0.5 s]. Pure functions, apart from draw(), which reads the
// system's random source. The jitter comes from an integer r drawn uniformly from
// 0 to 2^53 inclusive: 0.5 s when r = 2^53, else 0.5 s × r / 2^53.
class ReconnectSchedule {
public:
    ReconnectSchedule() = delete;

    static constexpr double baseSeconds = 0.5;
    static constexpr double capSeconds = 30.0;
    static constexpr double maxJitterSeconds = 0.5;
    static constexpr quint64 drawLimit = quint64(1) << 53; // the largest r

    // Delay before jitter, in seconds, for failure number `attempt` (negative reads as 0).
    static double backoffSeconds(int attempt);
    // Jitter in seconds for a draw r; r above drawLimit is clamped to it.
    static double jitterSeconds(quint64 r);
    // backoffSeconds(attempt) + jitterSeconds(r).
    static double delaySeconds(int attempt, quint64 r);
    // A delay in milliseconds, scaled by `timeScale` (1 = real time), rounded to the nearest.
    static std::chrono::milliseconds delay(int attempt, quint64 r, double timeScale = 1.0);

    // r uniform in [0, drawLimit] from the system's random source (rejection
    // sampling on 54-bit draws, so every value is equally likely).
    static quint64 draw();
};

} // namespace Wardlamp
