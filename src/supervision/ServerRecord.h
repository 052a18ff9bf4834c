#pragma once

#include "PortRecovery.h"
#include "PreviousRun.h"
#include "RestartPolicy.h"

#include <QtGlobal>

#include <memory>

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
    }
};

} // namespace Wardlamp::Detail
