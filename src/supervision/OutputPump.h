#pragma once

#include "LineClassifier.h"
#include "OutputPump_p.h"
#include "ProcessRun.h"
#include "common/Expected.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace Wardlamp::Detail {

// Bounds on the memory an OutputPump uses, for a shortage of it.
struct OutputPumpLimits {
    // Blocks of output mapped at once (OutputChunks).
    std::size_t maxBlocks = OutputChunks::unlimited;
    // How long the drain of a child that has exited waits for memory before
    // what is left in its pipes is given up (the pump waits with it).
    std::chrono::milliseconds drainMemoryWait { 2000 };
};

// The one thread that reads every run's two pipes and collects its exit. A
// pipe is never polled (see PipeWaiter for why): a busy one is read on every
// round of this thread, with a short pause when a round brought little so
// that one read takes many small writes; a quiet one is left to its
// PipeWaiter, a small thread blocked in a one-byte read, whose ring makes it
// busy again. epoll watches only the pidfds (the exits), the eventfd that
// carries commands and rings, and the pipes of a run for which no waiter
// could be started.
//
// It assembles lines, repairs their UTF-8, drops bash's leading job-control
// noise, classifies each line (error pattern, in-use wording) and queues them
// on the run. The first batch queued while none is waiting calls `wake` (on
// this thread), which posts one main-thread call; the main thread then
// take()s everything queued so far.
//
// Reads go into pooled blocks (OutputChunks) and the queued lines point into
// them: a line that arrives whole in one read is never copied; lines put
// together from several reads, or repaired, are copied to a side block.
//
// A run whose queue exceeds pauseBytes is not read until the main thread has
// taken its queue: the child then blocks on a full pipe, and nothing is lost.
// On exit: both pipes are drained, partial lines flushed, the child reaped,
// and the last lines plus the exit status are queued together, in that order.
//
// Without memory to read into (no block can be mapped), a run's pipes rest
// for starvedRetry and are tried again: the child waits on its full pipe and
// nothing is lost. Only what cannot wait is dropped, each time in place of a
// line that says so: output left in the pipes of a child that has exited
// (after Limits::drainMemoryWait), and a line that could not be copied aside.
//
// Owned by ServerManager; add(), take() and recycle() are called on the main thread.
class OutputPump {
public:
    using Wake = std::function<void(const std::shared_ptr<ProcessRun>&)>;

    static constexpr qsizetype readSize = 128 * 1024;
    static_assert(LineClassifier::readPastEnd <= OutputChunks::slackBytes);
    // A block with less room than this left is not read into any more.
    static constexpr qsizetype minReadRoom = 256 * 1024;
    // Spare blocks are unmapped after this long without output.
    static constexpr std::chrono::milliseconds idleTrim { 1000 };
    static constexpr qsizetype pauseBytes = 8 * 1024 * 1024;
    // A user's pipes may hold pipe-user-pages-soft pages (16,384 by default)
    // before every new pipe of theirs shrinks to one page. Pipes start at the
    // kernel's default, quietPipeBytes (200 pipes of 100 servers: 3,200
    // pages); one that fills it in a read grows to busyPipeBytes, so a burst
    // is taken in few reads, and goes back once the thread has been idle.
    static constexpr int quietPipeBytes = 64 * 1024;
    static constexpr int busyPipeBytes = 1024 * 1024;
    // Drain limit per pipe at exit, for a grandchild that keeps writing.
    static constexpr qsizetype drainLimit = 16 * 1024 * 1024;
    // After a round of reads that brought less than coalesceBelow bytes, the
    // thread pauses this long before it looks at the pipes again.
    static constexpr qsizetype coalesceBelow = 64 * 1024;
    static constexpr std::chrono::microseconds coalescePause { 100 };
    // Minimum spacing of main-thread wake-ups (batches wait at most this long).
    static constexpr std::chrono::milliseconds wakeInterval { 5 };
    // A queue this large wakes the main thread at once, interval or not.
    static constexpr qsizetype wakeBytes = 1024 * 1024;
    // Line arrays of taken batches are reused up to this many records (a
    // megabyte of them: a wake-up's worth of lines of 16 bytes).
    static constexpr std::size_t maxRecycledLines = wakeBytes / sizeof(RawLine);

    // Without memory for output, a run's pipes rest this long before they are read again.
    static constexpr std::chrono::milliseconds starvedRetry { 100 };
    // Stand in for output that was dropped for want of memory.
    static constexpr std::string_view lostLineText = "[wardlamp: a line of output was lost: no memory to keep it]";
    static constexpr std::string_view lostRestText
        = "[wardlamp: the rest of the output could not be read: no memory to read it into]";

    using Limits = OutputPumpLimits;

    // The pump with its thread running, or why it could not be set up (no
    // descriptor or thread to be had).
    static Expected<std::unique_ptr<OutputPump>, QString> create(Wake wake, Limits limits = {});
    ~OutputPump(); // stops the thread; closes the pipes of runs still registered
    OutputPump(const OutputPump&) = delete;
    OutputPump& operator=(const OutputPump&) = delete;

    void add(const std::shared_ptr<ProcessRun>& run);
    // Everything queued for the run; resumes reading a paused run.
    PendingOutput take(const std::shared_ptr<ProcessRun>& run);
    // Gives a taken batch's buffers back for reuse (main thread, after use).
    void recycle(PendingOutput&& output);
    // Blocks kept mapped for reuse, none in use (any thread).
    std::size_t spareBlocks() const { return m_chunks->spareCount(); }

private:
    enum class Command { add, resume };
    // What a descriptor of a run stands for; the value indexes Entry::sources.
    enum class Kind : quint8 { standardOutput, standardError, exit };
    static constexpr Kind pipeKinds[] = { Kind::standardOutput, Kind::standardError };
    // What an epoll event, a waiter's ring or the list of busy pipes names.
    struct Source {
        ProcessRun* run;
        Kind kind;
    };
    struct Entry {
        std::shared_ptr<ProcessRun> run;
        Source sources[3];
        Source* source(Kind kind) { return &sources[int(kind)]; }
    };
    // The run's pipe of that kind (not Kind::exit).
    static ProcessRun::Stream& streamOf(ProcessRun& run, Kind kind)
    {
        return kind == Kind::standardOutput ? run.out : run.err;
    }

    OutputPump(Wake wake, Limits limits);
    void post(Command command, const std::shared_ptr<ProcessRun>& run);
    void loop();
    void handleCommands();
    void registerStream(Entry& entry, Kind kind, bool fresh);
    void ring(Source* source);
    void handleRings();
    void setHot(ProcessRun::Stream& stream, Source* source, bool hot);
    void waitQuietly(ProcessRun::Stream& stream, Source* source);
    void readHotStreams(qsizetype& roundBytes);
    void unregisterStream(ProcessRun& run, Kind kind);
    qsizetype readStream(Entry& entry, Kind kind, qsizetype limit, bool drain); // bytes read
    void stage(ProcessRun& run, bool isStderr, QByteArrayView line, bool ascii, const LineHints* hints);
    // Queues the line as it is, with these RawLine flags.
    void stageLine(QByteArrayView line, quint8 flags);
    void stageLost(bool isStderr, std::string_view text);
    void starve(Entry& entry);
    void resumeStarved();
    void closeStream(ProcessRun& run, Kind kind);
    template <typename Fill> void intoPending(ProcessRun& run, Fill&& fill);
    const char* copyAside(QByteArrayView line);
    std::shared_ptr<char> newChunk(bool huge);
    std::shared_ptr<char> newChunkWithin(bool huge, std::chrono::milliseconds patience);
    void releaseIdleMemory();
    // A new epoll set with every descriptor the old one watched; after the
    // old one failed. False when none could be made.
    bool rebuildEpoll();
    void finish(Entry& entry);
    void publish(Entry& entry, bool drain, bool urgent);
    void wakeDeferred(ProcessRun& run);
    void wakeAllDeferred();

    const Wake m_wake;
    const Limits m_limits;
    int m_epoll = -1;
    int m_event = -1;
    std::thread m_thread;
    bool m_stopping = false; // output thread only

    std::mutex m_commandMutex;
    std::vector<std::pair<Command, std::shared_ptr<ProcessRun>>> m_commands;
    bool m_stop = false;

    // Output thread only.
    std::unordered_map<ProcessRun*, std::unique_ptr<Entry>> m_entries;
    PendingOutput* m_target = nullptr; // the queue stage() adds to (its run's mutex is held)
    const std::shared_ptr<OutputChunks> m_chunks;
    std::shared_ptr<char> m_readChunk; // the block reads go into
    qsizetype m_readUsed = 0;
    std::shared_ptr<char> m_sideChunk; // the block copies go into
    qsizetype m_sideUsed = 0;
    const char* m_readBegin = nullptr; // the read being assembled
    const char* m_readEnd = nullptr;
    bool m_idle = true; // nothing read since the last trim
    std::chrono::steady_clock::time_point m_lastChunkAt; // when a block was last taken from the pool
    bool m_bulk = false; // the last read filled its room
    bool m_preciseWait = true; // epoll_pwait2 is there
    std::mutex m_recycleMutex;
    std::vector<std::vector<RawLine>> m_recycled; // line arrays with their capacity
    LineClassifier m_classifier;
    std::chrono::steady_clock::time_point m_lastWakeAt;
    std::vector<std::shared_ptr<ProcessRun>> m_deferred; // runs whose wake-up waits for the interval
    std::vector<Source*> m_hot; // busy pipes, read on every round
    std::vector<Source*> m_hotRound; // the round's copy of m_hot
    qsizetype m_lastRoundBytes = 0;

    std::vector<ProcessRun*> m_starved; // runs whose pipes rest for want of memory
    std::chrono::steady_clock::time_point m_starvedUntil;
    bool m_memoryShort = false; // a shortage was reported and has not ended yet

    std::mutex m_ringMutex;
    std::vector<Source*> m_rung; // pipes whose waiter has something (any thread, under m_ringMutex)
};

} // namespace Wardlamp::Detail
