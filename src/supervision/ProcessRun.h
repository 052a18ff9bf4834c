#pragma once

#include "LineAssembler.h"
#include "PipeWaiter.h"
#include "ProcessInfo.h"
#include "RawLine.h"
#include "ServerConfig.h"
#include "common/Expected.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace Wardlamp {
class Subreaper;
}

namespace Wardlamp::Detail {

// Lines (and at last the exit) of one run, waiting for the main thread. The
// lines' UTF-8 text lies in blocks the output thread read into (or copied
// assembled lines to); the batch holds those blocks until it is dropped.
struct PendingOutput {
    std::vector<RawLine> lines;
    std::vector<std::shared_ptr<char>> chunks; // every block a line points into
    qsizetype bytes = 0; // bytes read or copied for the lines (their text and line ends)
    bool finished = false; // the process has exited and was reaped; nothing follows
    int status = 0; // exit code, or the signal number when bySignal
    bool bySignal = false;

    QByteArrayView text(const RawLine& line) const { return QByteArrayView(line.data, line.length); }
    bool isEmpty() const { return lines.empty() && !finished; }
    void clear()
    {
        lines.clear(); // keeps the capacity for the next batch
        chunks.clear();
        bytes = 0;
        finished = false;
    }
    // Holds `chunk` for the lines about to point into it (not again when it
    // is one of the last two held: reads and copies alternate between two).
    void hold(const std::shared_ptr<char>& chunk)
    {
        const std::size_t n = chunks.size();
        if ((n > 0 && chunks[n - 1] == chunk) || (n > 1 && chunks[n - 2] == chunk))
            return;
        chunks.push_back(chunk);
    }
    // Moves `other` in at the end (cheap when this one is empty).
    void append(PendingOutput& other);
};

// One launch of a server's process. Created by the manager on the main thread
// at each start and shared with the output thread; every event the output
// thread produces carries its run, so events of a replaced run are told apart.
//
// Fields are grouped by the thread that may touch them.
class ProcessRun {
public:
    // The new run, or the errno of the failure.
    using Launch = Expected<std::shared_ptr<ProcessRun>, int>;

    // Starts the server's command through the login shell (ShellCommand), in
    // a session of its own, with an environment stripped of the remote-access
    // secrets and carrying the run's own tag. The child is claimed from the
    // subreaper at once, when there is one. Main thread.
    // With a `configurationTag`, every process of the run carries it too.
    static Launch launch(const ServerConfig& config, const QString& loginShell, Subreaper* subreaper,
        const QByteArray& configurationTag = {});

    ProcessRun(const ServerConfig& config, int pid, int pidfd, int stdoutFd, int stderrFd);
    ~ProcessRun(); // closes the pidfd (the pipes are the output thread's)
    ProcessRun(const ProcessRun&) = delete;
    ProcessRun& operator=(const ProcessRun&) = delete;

    // Fixed at creation.
    const ServerConfig config;
    const int pid;
    const int pidfd;

    // Main thread only.
    // Sends `signal` to the run's whole tree as it is now, and to whatever
    // was signalled before and is still there; adds the members to `signalled`.
    void signalTree(int signal);
    // Value of the run's tag variable in its children's environment: finds
    // descendants that daemonised away from the tree (setsid + double fork).
    QByteArray tag;
    bool finished = false; // exit handled
    QList<ProcessInfo> signalled; // every process of the tree that was sent a signal

    // Both threads, under `mutex`.
    std::mutex mutex;
    PendingOutput pending;
    bool wakeQueued = false; // a main-thread call for this run is on its way
    bool paused = false; // reading stopped until the main thread catches up

    // Set by the main thread when the run was replaced: its output is read and dropped.
    std::atomic<bool> discard { false };
    // Set by the output thread once it has collected the exit status: the pid
    // is no longer ours (the main thread learns it later, with the last output).
    std::atomic<bool> reaped { false };

    // Output thread only.
    struct Stream {
        int fd = -1;
        bool registered = false; // watched: read when busy, waited on when quiet (not while paused)
        bool hot = false; // read on every round of the output thread
        bool blocking = false; // the descriptor is in blocking mode (for the waiter)
        std::unique_ptr<PipeWaiter> waiter; // null: the pipe is watched with epoll
        LineAssembler assembler;
        // The command has not started yet: lines are the login shell's own
        // (rc files), shown but never errors, until ShellCommand::startMarker.
        bool beforeCommand = false;
        bool grown = false; // enlarged while busy (OutputPump::busyPipeBytes)
    };
    Stream out;
    Stream err;
    int droppedNoise = 0;
    bool stderrStarted = false;
    bool finishedReading = false; // exit collected; nothing more is read
};

} // namespace Wardlamp::Detail
