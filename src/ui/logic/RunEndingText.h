#pragma once

#include <QString>

namespace Wardlamp {

struct PreviousRun;

// What the log window says about a previous run: when and how it ended,
// e.g. "Ended 14:02:11 · exited with code 1". Pure.
class RunEndingText {
public:
    // How it ended: "exited with code 1", "killed by signal 9", "stopped",
    // "replaced by a new start", or "ended before it had a process".
    static QString how(const PreviousRun& run);
    // "Ended HH:mm:ss · " and how(), or how() alone when the time is unknown.
    static QString describe(const PreviousRun& run);
};

} // namespace Wardlamp
