#pragma once

#include "LogRing.h"

#include <QDateTime>

#include <optional>

namespace Wardlamp {

// How a run of a server ended.
struct RunEnding {
    enum class Cause {
        exited, // `code` is its exit status
        signalled, // `code` is the signal's number
        replaced, // a new start replaced it while it still ran
    };

    Cause cause = Cause::exited;
    qint32 code = 0;
    bool requested = false; // a stop asked for this end
    QDateTime at;

    friend bool operator==(const RunEnding&, const RunEnding&) = default;
};

// The log of a server's run before the current one, kept when a start begins
// a new log (so a crash's lines outlive the automatic restart that follows),
// with the time it began and how it ended. The same cap as the current log.
// Only the manager and the local front doors see it; the remote side gets
// the current log only.
struct PreviousRun {
    LogRing logs;
    std::optional<QDateTime> startedAt;
    // Nothing when the run never got a process (a failed launch, or lines
    // written without a start).
    std::optional<RunEnding> ending;

    friend bool operator==(const PreviousRun&, const PreviousRun&) = default;
};

} // namespace Wardlamp
