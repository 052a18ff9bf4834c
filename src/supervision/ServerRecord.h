#pragma once

#include "PortRecovery.h"
#include "PreviousRun.h"
#include "RestartPolicy.h"

#include <QtGlobal>

#include <chrono>
#include <memory>
#include <optional>

namespace Wardlamp::Detail {

class ProcessRun;

// Everything ServerManager keeps about one server beside the runtime state it
// publishes (ServerRuntimeState, in states()). Created when the id is first
// met and kept for the life of the manager, so cooldowns and line numbers
// survive starts, stops and clears. Main thread only.
struct ServerRecord {
    // The current run, from its launch until its exit has been handled. A
    // replaced run lives on elsewhere until it ends, but is no longer this.
    std::shared_ptr<ProcessRun> run;
    // The current run's exit completes a requested stop (stop, stopAll, shutdown).
    bool stopRequested = false;
    // ... after which the server starts again (restart of a running server).
    bool restartAfterStop = false;
    RestartPolicy crashRestarts;
    PortRecovery portRecovery;
    // The current run printed an in-use message and said it carries on with
    // another port: nothing was freed. Should the run exit soon after all,
    // the port is freed then and the server started again.
    struct CarryOn {
        int port = 0;
        std::chrono::steady_clock::time_point at;
    };
    std::optional<CarryOn> carryOn;
    // Number of the last line appended to the server's log; the next is one more.
    quint64 lastSeq = 0;
    // How the current run ended, once it has; moved into `previous` with its
    // log by the next start.
    std::optional<RunEnding> ending;
    std::optional<PreviousRun> previous;

    // A new start: what concerned the run before goes (a port recovery under
    // way belongs to that run: left in place, it would take the new run's exit
    // for its own and hide a crash). Cooldowns and numbering stay.
    void beginStart()
    {
        run.reset();
        stopRequested = false;
        restartAfterStop = false;
        portRecovery.abandon();
        carryOn.reset();
    }
};

} // namespace Wardlamp::Detail
