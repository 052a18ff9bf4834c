#pragma once

#include <sys/types.h>

namespace Wardlamp {

// One process as /proc showed it at the moment of a snapshot. `startTime`
// (clock ticks after boot) tells a process apart from a later one that got
// the same pid.
struct ProcessInfo {
    pid_t pid = 0;
    pid_t ppid = 0;
    pid_t pgid = 0;
    pid_t sid = 0;
    char state = '?'; // R, S, D, T, Z, X, ... as in /proc/<pid>/stat
    unsigned long long startTime = 0;

    // A zombie (or a dead entry about to vanish) has ended; only its exit status remains.
    bool hasEnded() const { return state == 'Z' || state == 'X' || state == 'x'; }

    bool operator==(const ProcessInfo&) const = default;
};

} // namespace Wardlamp
