#include "OutputPump.h"

#include "ErrorPattern.h"
#include "PlainText.h"
#include "PortInUse.h"
#include "ShellCommand.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace Wardlamp::Detail {

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(lcPump, "wardlamp.supervision")

// Puts the pipe in blocking mode (for its waiter) or out of it (for this
// thread's reads); false when it could not be.
bool setBlocking(ProcessRun::Stream& stream, bool blocking)
{
    if (stream.blocking == blocking)
        return true;
    const int flags = ::fcntl(stream.fd, F_GETFL);
    if (flags < 0 || ::fcntl(stream.fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) != 0)
        return false;
    stream.blocking = blocking;
    return true;
}

} // namespace

OutputPump::OutputPump(Wake wake, Limits limits)
    : m_wake(std::move(wake))
    , m_limits(limits)
    , m_chunks(std::make_shared<OutputChunks>(limits.maxBlocks))
{
}

Expected<std::unique_ptr<OutputPump>, QString> OutputPump::create(Wake wake, Limits limits)
{
    std::unique_ptr<OutputPump> pump(new OutputPump(std::move(wake), limits));
    const auto failed = [](const char* what) {
        return QString(QLatin1StringView(what) + u": "_s + QString::fromLocal8Bit(std::strerror(errno)));
    };
    pump->m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (pump->m_epoll < 0)
        return failed("cannot create the output thread's epoll");
    pump->m_event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (pump->m_event < 0)
        return failed("cannot create the output thread's eventfd");
    epoll_event ev {};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    if (::epoll_ctl(pump->m_epoll, EPOLL_CTL_ADD, pump->m_event, &ev) != 0)
        return failed("cannot watch the output thread's eventfd");
    try {
        pump->m_thread = std::thread([pump = pump.get()] { pump->loop(); });
    } catch (const std::system_error& error) {
        return QString(u"cannot start the output thread: "_s + QString::fromLocal8Bit(error.what()));
    }
    return pump;
}

OutputPump::~OutputPump()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_commandMutex);
            m_stop = true;
        }
        const quint64 one = 1;
        ssize_t ignored = ::write(m_event, &one, sizeof one);
        (void)ignored;
        m_thread.join();
    }
    for (auto& [run, entry] : m_entries) {
        for (ProcessRun::Stream* stream : { &run->out, &run->err }) {
            stream->waiter.reset(); // before its descriptor goes, and before m_event
            if (stream->fd >= 0)
                ::close(stream->fd);
            stream->fd = -1;
        }
    }
    if (m_event >= 0)
        ::close(m_event);
    if (m_epoll >= 0)
        ::close(m_epoll);
}

void OutputPump::add(const std::shared_ptr<ProcessRun>& run)
{
    post(Command::add, run);
}

PendingOutput OutputPump::take(const std::shared_ptr<ProcessRun>& runPtr)
{
    ProcessRun& run = *runPtr;
    PendingOutput output;
    bool resume = false;
    {
        std::lock_guard lock(run.mutex);
        output.append(run.pending);
        run.wakeQueued = false;
        resume = run.paused;
        run.paused = false;
    }
    if (resume)
        post(Command::resume, runPtr);
    return output;
}

void OutputPump::post(Command command, const std::shared_ptr<ProcessRun>& run)
{
    {
        std::lock_guard lock(m_commandMutex);
        m_commands.emplace_back(command, run);
    }
    const quint64 one = 1;
    ssize_t ignored = ::write(m_event, &one, sizeof one);
    (void)ignored;
}

void OutputPump::loop()
{
    epoll_event events[64];
    std::vector<ProcessRun*> finished;
    qsizetype roundBytes = 0;
    qsizetype polledBytes = 0;
    while (!m_stopping) {
        // A deferred wake-up is due to the microsecond: the last batch of a
        // burst waits for it.
        std::chrono::nanoseconds wait = idleTrim;
        if (!m_deferred.empty())
            wait
                = std::max(std::chrono::nanoseconds(0), m_lastWakeAt + wakeInterval - std::chrono::steady_clock::now());
        // Busy pipes are read again after a short pause when the last round
        // brought little: output collects in the pipe meanwhile, so that one
        // read takes many small writes. A round that brought much goes on at once.
        const bool hot = !m_hot.empty();
        if (hot)
            wait = std::min<std::chrono::nanoseconds>(
                wait, m_lastRoundBytes >= coalesceBelow ? std::chrono::nanoseconds(0) : coalescePause);
        if (!m_starved.empty())
            wait = std::clamp<std::chrono::nanoseconds>(
                m_starvedUntil - std::chrono::steady_clock::now(), std::chrono::nanoseconds(0), wait);
        const timespec timeout { time_t(wait.count() / 1000000000), long(wait.count() % 1000000000) };
        const bool forever = m_idle && m_deferred.empty() && !hot && m_starved.empty();
        int count = -1;
        if (m_preciseWait) {
            count = ::epoll_pwait2(m_epoll, events, 64, forever ? nullptr : &timeout, nullptr);
            if (count < 0 && errno == ENOSYS) {
                m_preciseWait = false; // a kernel before 5.11
                continue;
            }
        } else {
            const auto millis = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
            count = ::epoll_wait(m_epoll, events, 64, forever ? -1 : int(millis));
        }
        if (count < 0) {
            if (errno == EINTR)
                continue;
            // Without this loop no output is read and no exit handled again:
            // say so, and watch everything through a new epoll set.
            qCCritical(lcPump) << "waiting for child output failed:" << std::strerror(errno)
                               << "- watching the children anew";
            if (!rebuildEpoll())
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        if (count == 0 && m_deferred.empty() && !m_idle && !hot)
            releaseIdleMemory();
        for (int i = 0; i < count; ++i) {
            auto* source = static_cast<Source*>(events[i].data.ptr);
            if (!source) {
                quint64 value;
                ssize_t ignored = ::read(m_event, &value, sizeof value);
                (void)ignored;
                handleCommands();
                handleRings();
                continue;
            }
            const auto it = m_entries.find(source->run);
            if (it == m_entries.end() || it->second->run->finishedReading)
                continue;
            Entry& entry = *it->second;
            if (source->kind == Kind::exit) {
                finish(entry);
                finished.push_back(source->run);
            } else {
                polledBytes += readStream(entry, source->kind, 4 * readSize, false);
            }
        }
        readHotStreams(roundBytes);
        // Pipes watched with epoll (no waiter thread could be started): the
        // same pause, taken here since epoll reports a non-empty pipe at once.
        if (polledBytes > 0 && polledBytes < coalesceBelow)
            std::this_thread::sleep_for(coalescePause);
        roundBytes += polledBytes;
        m_lastRoundBytes = roundBytes;
        // Spare blocks wait for the next burst, but not for good: output that
        // trickles on (so never a quiet spell) and has not needed a block for
        // a while gives them back.
        if (roundBytes > 0 && std::chrono::steady_clock::now() >= m_lastChunkAt + idleTrim)
            m_chunks->trim(0);
        roundBytes = 0;
        polledBytes = 0;
        if (!m_starved.empty() && std::chrono::steady_clock::now() >= m_starvedUntil)
            resumeStarved();
        if (!m_deferred.empty() && std::chrono::steady_clock::now() >= m_lastWakeAt + wakeInterval)
            wakeAllDeferred();
        for (ProcessRun* run : finished)
            m_entries.erase(run);
        finished.clear();
    }
}

void OutputPump::handleCommands()
{
    std::vector<std::pair<Command, std::shared_ptr<ProcessRun>>> commands;
    {
        std::lock_guard lock(m_commandMutex);
        commands.swap(m_commands);
        if (m_stop)
            m_stopping = true;
    }
    for (auto& [command, run] : commands) {
        if (command == Command::add) {
            auto entry = std::make_unique<Entry>();
            entry->run = run;
            for (const Kind kind : { Kind::standardOutput, Kind::standardError, Kind::exit })
                *entry->source(kind) = Source { run.get(), kind };
            Entry& added = *entry;
            m_entries.emplace(run.get(), std::move(entry));
            registerStream(added, Kind::standardOutput, true);
            registerStream(added, Kind::standardError, true);
            registerStream(added, Kind::exit, true);
        } else {
            const auto it = m_entries.find(run.get());
            if (it == m_entries.end() || run->finishedReading)
                continue;
            for (const Kind kind : pipeKinds)
                registerStream(*it->second, kind, false);
        }
    }
}

void OutputPump::registerStream(Entry& entry, Kind kind, bool fresh)
{
    ProcessRun& run = *entry.run;
    int fd = run.pidfd;
    if (kind != Kind::exit) {
        ProcessRun::Stream& stream = streamOf(run, kind);
        if (stream.fd < 0 || stream.registered)
            return;
        fd = stream.fd;
        stream.registered = true;
        Source* source = entry.source(kind);
        if (fresh)
            stream.waiter = PipeWaiter::start(stream.fd, [this, source] { ring(source); });
        if (stream.waiter) {
            // A new pipe is quiet until its first byte. A resumed one is read
            // at once: it was busy, or its waiter kept what it got meanwhile;
            // one still waiting goes on waiting.
            if (fresh)
                waitQuietly(stream, source);
            else if (!stream.waiter->armed())
                setHot(stream, source, true);
            return;
        }
    }
    epoll_event ev {};
    ev.events = EPOLLIN;
    ev.data.ptr = entry.source(kind);
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0)
        qCWarning(lcPump) << "cannot watch a child descriptor:" << std::strerror(errno);
}

void OutputPump::unregisterStream(ProcessRun& run, Kind kind)
{
    ProcessRun::Stream& stream = streamOf(run, kind);
    if (stream.waiter) {
        // A waiter still waiting goes on; what it gets is kept until resume.
        setHot(stream, nullptr, false);
    } else if (stream.fd >= 0 && stream.registered) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, stream.fd, nullptr);
    }
    stream.registered = false;
}

void OutputPump::ring(Source* source)
{
    {
        std::lock_guard lock(m_ringMutex);
        m_rung.push_back(source);
    }
    const quint64 one = 1;
    ssize_t ignored = ::write(m_event, &one, sizeof one);
    (void)ignored;
}

void OutputPump::handleRings()
{
    std::vector<Source*> rung;
    {
        std::lock_guard lock(m_ringMutex);
        rung.swap(m_rung);
    }
    for (Source* source : rung) {
        const auto it = m_entries.find(source->run);
        if (it == m_entries.end() || it->second->run->finishedReading)
            continue;
        ProcessRun::Stream& stream = streamOf(*source->run, source->kind);
        // A paused stream keeps the waiter's byte until it is resumed. A waiter
        // that is armed has not rung since: this thread must not read its pipe.
        if (stream.fd >= 0 && stream.registered && stream.waiter && !stream.waiter->armed())
            setHot(stream, source, true);
    }
}

void OutputPump::setHot(ProcessRun::Stream& stream, Source* source, bool hot)
{
    if (stream.hot == hot)
        return;
    stream.hot = hot;
    if (hot) {
        // Reads of the output thread must never block.
        setBlocking(stream, false);
        m_hot.push_back(source);
    } else {
        std::erase_if(m_hot, [&](Source* s) { return &streamOf(*s->run, s->kind) == &stream; });
    }
}

void OutputPump::waitQuietly(ProcessRun::Stream& stream, Source* source)
{
    setHot(stream, nullptr, false);
    if (setBlocking(stream, true)) {
        stream.waiter->arm();
        return;
    }
    // A waiter must not read a non-blocking pipe (it would take EAGAIN for
    // the end): the pipe goes to epoll for good.
    qCWarning(lcPump) << "cannot make a child pipe blocking:" << std::strerror(errno);
    stream.waiter.reset();
    epoll_event ev {};
    ev.events = EPOLLIN;
    ev.data.ptr = source;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, stream.fd, &ev) != 0)
        qCWarning(lcPump) << "cannot watch a child descriptor:" << std::strerror(errno);
}

void OutputPump::readHotStreams(qsizetype& roundBytes)
{
    // readStream() may take streams off the list (quiet, paused, ended).
    m_hotRound.assign(m_hot.begin(), m_hot.end());
    for (Source* source : m_hotRound) {
        ProcessRun::Stream& stream = streamOf(*source->run, source->kind);
        if (!stream.hot)
            continue;
        const auto it = m_entries.find(source->run);
        if (it == m_entries.end())
            continue;
        roundBytes += readStream(*it->second, source->kind, 4 * readSize, false);
    }
}

void OutputPump::closeStream(ProcessRun& run, Kind kind)
{
    ProcessRun::Stream& stream = streamOf(run, kind);
    unregisterStream(run, kind);
    if (stream.waiter) {
        stream.waiter.reset(); // no read of the descriptor is left running
        // Nor a ring: it names a Source of an entry that is about to go, whose
        // memory the next run's entry may take.
        std::lock_guard lock(m_ringMutex);
        std::erase_if(m_rung, [&](Source* source) { return source->run == &run && source->kind == kind; });
    }
    if (stream.fd >= 0)
        ::close(stream.fd);
    stream.fd = -1;
}

qsizetype OutputPump::readStream(Entry& entry, Kind kind, qsizetype limit, bool drain)
{
    ProcessRun& run = *entry.run;
    ProcessRun::Stream& stream = streamOf(run, kind);
    if (stream.fd < 0)
        return 0;
    const bool isStderr = kind == Kind::standardError;
    // Clean lines (ASCII, no candidate of either wording, inside the read) of
    // a run still current whose standard error noise is behind it are queued
    // here without stage()'s checks. (The main thread drops the output of a
    // run replaced meanwhile.)
    const bool plain
        = (!isStderr || run.stderrStarted) && !stream.beforeCommand && !run.discard.load(std::memory_order_relaxed);
    const quint8 plainFlags = isStderr ? RawLine::standardError | RawLine::error : 0;
    std::vector<RawLine>& queued = run.pending.lines; // only touched under the run's mutex
    auto sink = [&](QByteArrayView line, bool ascii, const LineHints* hints) {
        if (hints == &LineAssembler::cleanLine && plain && !line.isEmpty()) {
            queued.push_back(RawLine { line.data(), quint32(line.size()), plainFlags });
        } else {
            stage(run, isStderr, line, ascii, hints);
        }
    };

    m_idle = false;
    qsizetype total = 0;
    bool ended = false;
    bool starved = false; // no memory to read into
    PipeWaiter::Result waited;
    bool waiterTaken = !stream.waiter;
    // Whether the pipe still holds something (the waiter's byte included).
    const auto hasUnread = [&] {
        int unread = 0;
        return (!waiterTaken && stream.waiter->hasByte()) || ::ioctl(stream.fd, FIONREAD, &unread) != 0 || unread > 0;
    };
    while (!ended) {
        if (!m_readChunk || OutputChunks::chunkBytes - m_readUsed < minReadRoom) {
            // Given up first: once no batch holds it, it may be the block we get.
            m_readChunk.reset();
            m_readUsed = 0;
            // A child that has gone cannot wait for the next round: if its
            // pipe holds more, the drain waits a little here for a block the
            // main thread gives back.
            m_readChunk = newChunk(m_bulk);
            if (!m_readChunk && drain && hasUnread()) {
                // The blocks may all be held by this run's own lines, read in
                // this very drain: they come back only once those are taken.
                publish(entry, true, true);
                m_readChunk = newChunkWithin(m_bulk, m_limits.drainMemoryWait);
            }
            if (!m_readChunk) {
                starved = true;
                break;
            }
        }
        if (!waiterTaken) {
            // The byte the waiter read comes first (taken once there is room for it).
            waiterTaken = true;
            waited = stream.waiter->take();
            if (waited.kind == PipeWaiter::Result::end) {
                ended = true;
                break;
            }
        }
        char* const at = m_readChunk.get() + m_readUsed;
        const qsizetype room = std::min(readSize, OutputChunks::chunkBytes - m_readUsed);
        qsizetype prefix = 0;
        if (waited.kind == PipeWaiter::Result::byte) {
            at[0] = waited.value;
            prefix = 1;
            waited = {};
        }
        ssize_t n = ::read(stream.fd, at + prefix, size_t(room - prefix));
        const int readError = errno;
        if (prefix && n <= 0) {
            // The waiter's byte alone; the state of the pipe is looked at again next round.
            if (n == 0 || (readError != EAGAIN && readError != EINTR))
                ended = true;
            n = 0;
        }
        n += prefix;
        if (n > 0) {
            total += n;
            m_bulk = n == room;
            if (n >= quietPipeBytes && !stream.grown) {
                // A refusal (the user's pipe budget) keeps the size it has.
                ::fcntl(stream.fd, F_SETPIPE_SZ, busyPipeBytes);
                stream.grown = true;
            }
            // The next read starts on a fresh cache line.
            m_readUsed = std::min(OutputChunks::chunkBytes, (m_readUsed + qsizetype(n) + 63) & ~qsizetype(63));
            // The block's slack keeps the classifier's look-ahead readable.
            m_classifier.scan(at, n);
            m_readBegin = at;
            m_readEnd = at + n;
            intoPending(run, [&] {
                m_target->hold(m_readChunk);
                m_target->bytes += n;
                stream.assembler.feed(QByteArrayView(at, n), sink, &m_classifier);
            });
            m_readBegin = m_readEnd = nullptr;
            // A short read means the pipe is empty for now: the next round (or
            // epoll) comes back for the rest.
            if (ended || (!drain && n < room) || total >= limit)
                break;
            continue;
        }
        if (n == 0) {
            ended = true;
            break;
        }
        if (readError == EINTR)
            continue;
        if (readError != EAGAIN)
            ended = true;
        break;
    }
    if (starved && drain) {
        // The child has gone: what is left in its pipe cannot wait any longer.
        if (hasUnread())
            intoPending(run, [&] { stageLost(isStderr, lostRestText); });
        ended = true;
    } else if (starved) {
        starve(entry);
    }
    if (ended) {
        intoPending(run, [&] { stream.assembler.finish(sink); });
        closeStream(run, kind);
    } else if (!starved && total == 0 && !drain && stream.hot) {
        // Quiet now: the waiter takes over until the next byte.
        waitQuietly(stream, entry.source(kind));
    }
    publish(entry, drain, drain || ended);
    return total;
}

template <typename Fill> void OutputPump::intoPending(ProcessRun& run, Fill&& fill)
{
    // Lines go straight into the run's queue: nothing is copied when the main
    // thread takes them, however far behind it is. It waits at most for the
    // lines of one read.
    std::lock_guard lock(run.mutex);
    if (run.pending.lines.empty() && run.pending.lines.capacity() < std::size_t(readSize / 64)) {
        // A line array the main thread has finished with: its pages are mapped already.
        std::lock_guard recycleLock(m_recycleMutex);
        if (!m_recycled.empty()) {
            run.pending.lines.swap(m_recycled.back());
            m_recycled.pop_back();
        }
    }
    m_target = &run.pending;
    fill();
    m_target = nullptr;
}

std::shared_ptr<char> OutputPump::newChunk(bool huge)
{
    std::shared_ptr<char> chunk = m_chunks->get(huge);
    if (!chunk) {
        if (!std::exchange(m_memoryShort, true))
            qCWarning(lcPump) << "no memory for child output: reading waits, and output that cannot wait is dropped";
        return chunk;
    }
    if (std::exchange(m_memoryShort, false))
        qCDebug(lcPump) << "memory for child output is back";
    m_lastChunkAt = std::chrono::steady_clock::now();
    return chunk;
}

std::shared_ptr<char> OutputPump::newChunkWithin(bool huge, std::chrono::milliseconds patience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    std::shared_ptr<char> chunk = newChunk(huge);
    // Blocks come back when the main thread has taken what is queued: a
    // wake-up held back for the interval would never come while this waits.
    if (!chunk && !m_deferred.empty())
        wakeAllDeferred();
    while (!chunk && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        chunk = newChunk(huge);
    }
    return chunk;
}

void OutputPump::starve(Entry& entry)
{
    // Like a pause, but lifted by time instead of by the main thread.
    for (const Kind kind : pipeKinds)
        unregisterStream(*entry.run, kind);
    if (std::find(m_starved.begin(), m_starved.end(), entry.run.get()) == m_starved.end())
        m_starved.push_back(entry.run.get());
    m_starvedUntil = std::chrono::steady_clock::now() + starvedRetry;
}

void OutputPump::resumeStarved()
{
    std::vector<ProcessRun*> starved;
    starved.swap(m_starved);
    for (ProcessRun* run : starved) {
        const auto it = m_entries.find(run);
        if (it == m_entries.end() || run->finishedReading)
            continue;
        {
            // A run paused meanwhile is resumed by the main thread's take().
            std::lock_guard lock(run->mutex);
            if (run->paused)
                continue;
        }
        for (const Kind kind : pipeKinds)
            registerStream(*it->second, kind, false);
    }
}

void OutputPump::recycle(PendingOutput&& output)
{
    output.chunks.clear(); // the blocks go back to the pool now
    // Only the arrays of bulk batches are reused, and not a burst's: handed from
    // batch to batch, it would stay as long as any output trickles on (the idle
    // trim waits for a quiet spell).
    if (output.lines.capacity() < std::size_t(readSize / 64) || output.lines.capacity() > maxRecycledLines)
        return;
    output.lines.clear();
    std::lock_guard lock(m_recycleMutex);
    if (m_recycled.size() < 2)
        m_recycled.push_back(std::move(output.lines));
}

void OutputPump::releaseIdleMemory()
{
    // Quiet for a while: give back the blocks in hand (queued batches keep
    // theirs until the main thread drops them) and unmap every spare one.
    m_idle = true;
    m_readChunk.reset();
    m_readUsed = 0;
    m_sideChunk.reset();
    m_sideUsed = 0;
    m_chunks->trim(0);
    // Pipes grown for a burst go back to the default size (refused while one
    // holds more than that: tried again at the next idle spell).
    for (auto& [run, entry] : m_entries) {
        for (ProcessRun::Stream* stream : { &run->out, &run->err }) {
            if (stream->grown && stream->fd >= 0 && ::fcntl(stream->fd, F_SETPIPE_SZ, quietPipeBytes) >= 0)
                stream->grown = false;
        }
    }
    std::lock_guard lock(m_recycleMutex);
    m_recycled.clear();
}

bool OutputPump::rebuildEpoll()
{
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0) {
        qCCritical(lcPump) << "cannot create a new epoll set:" << std::strerror(errno);
        return false;
    }
    const auto watch = [epoll](int fd, void* data) {
        epoll_event ev {};
        ev.events = EPOLLIN;
        ev.data.ptr = data;
        if (::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) != 0)
            qCCritical(lcPump) << "cannot watch descriptor" << fd << "anew:" << std::strerror(errno);
    };
    watch(m_event, nullptr);
    for (auto& [run, entry] : m_entries) {
        if (run->finishedReading)
            continue;
        watch(run->pidfd, entry->source(Kind::exit));
        for (const Kind kind : pipeKinds) {
            const ProcessRun::Stream& stream = streamOf(*run, kind);
            if (stream.fd >= 0 && stream.registered && !stream.waiter)
                watch(stream.fd, entry->source(kind));
        }
    }
    // The old descriptor is not closed: after a failure its number may
    // already stand for something else.
    // Commands and rings that came meanwhile left the eventfd readable: the
    // new set reports them.
    m_epoll = epoll;
    return true;
}

const char* OutputPump::copyAside(QByteArrayView line)
{
    if (!m_sideChunk || OutputChunks::chunkBytes - m_sideUsed < line.size()) {
        m_sideChunk.reset();
        m_sideUsed = 0;
        m_sideChunk = newChunk(false);
        if (!m_sideChunk)
            return nullptr;
    }
    char* at = m_sideChunk.get() + m_sideUsed;
    std::memcpy(at, line.data(), std::size_t(line.size()));
    m_sideUsed += line.size();
    m_target->bytes += line.size();
    m_target->hold(m_sideChunk);
    return at;
}

void OutputPump::stage(ProcessRun& run, bool isStderr, QByteArrayView line, bool ascii, const LineHints* hints)
{
    if (line.isEmpty() || run.discard.load(std::memory_order_relaxed))
        return;
    ProcessRun::Stream& stream = isStderr ? run.err : run.out;
    if (stream.beforeCommand) {
        if (line == ShellCommand::startMarker) {
            stream.beforeCommand = false;
            if (isStderr)
                run.stderrStarted = true; // the shell's job-control lines came before
            return;
        }
        if (isStderr && run.droppedNoise < 2 && ShellCommand::isJobControlNoise(line)) {
            ++run.droppedNoise;
            return;
        }
        // Start-up output of the login shell: shown, never an error, and no
        // port message of the server's.
        stageLine(line, isStderr ? quint8(RawLine::standardError) : quint8(0));
        return;
    }
    if (isStderr && !run.stderrStarted) {
        if (run.droppedNoise < 2 && ShellCommand::isJobControlNoise(line)) {
            ++run.droppedNoise;
            return;
        }
        run.stderrStarted = true;
    }
    quint8 flags = isStderr ? RawLine::standardError | RawLine::error : 0;
    if (hints) {
        if (hints->error)
            flags |= RawLine::error;
        if (hints->mayMentionPort)
            flags |= RawLine::maybePort;
    } else {
        // Colours stay in the stored line; detection sees the text without
        // escape sequences ("\e[31mError\e[39m: boom" is an error line).
        QByteArray plainCopy;
        QByteArrayView plain = line;
        if (PlainText::hasControls(line)) {
            plainCopy = PlainText::strip(line);
            plain = plainCopy;
        }
        if (ascii) {
            if (!isStderr && ErrorPattern::matchesAscii(plain))
                flags |= RawLine::error;
            if (PortInUse::mayMentionAscii(plain))
                flags |= RawLine::maybePort;
        } else {
            flags |= RawLine::nonAscii | RawLine::maybePort;
            if (!isStderr && ErrorPattern::matchesUtf8(plain))
                flags |= RawLine::error;
        }
    }
    stageLine(line, flags);
}

void OutputPump::stageLine(QByteArrayView line, quint8 flags)
{
    RawLine raw;
    raw.length = quint32(line.size());
    raw.flags = flags;
    // Lines inside the read point into its block, which the batch holds;
    // others (assembled from several reads, repaired) live in the assembler
    // only until the next call, and are copied aside.
    const bool inRead = line.data() >= m_readBegin && line.data() < m_readEnd;
    raw.data = inRead ? line.data() : copyAside(line);
    if (!raw.data) {
        stageLost(flags & RawLine::standardError, lostLineText);
        return;
    }
    m_target->lines.push_back(raw);
}

void OutputPump::stageLost(bool isStderr, std::string_view text)
{
    // Static text: no block to hold.
    const quint8 flags = RawLine::error | (isStderr ? RawLine::standardError : 0);
    m_target->lines.push_back(RawLine { text.data(), quint32(text.size()), flags });
}

void OutputPump::publish(Entry& entry, bool drain, bool urgent)
{
    ProcessRun& run = *entry.run;
    bool wake = false;
    bool pause = false;
    bool full = false;
    {
        std::lock_guard lock(run.mutex);
        full = run.pending.bytes >= wakeBytes;
        if (!run.pending.isEmpty()) {
            wake = !run.wakeQueued;
            run.wakeQueued = true;
        }
        if (!drain && !run.pending.finished && run.pending.bytes > pauseBytes) {
            run.paused = true;
            pause = true;
        }
    }
    if (pause) {
        qCDebug(lcPump) << "pid" << run.pid << "paused until the main thread catches up";
        for (const Kind kind : pipeKinds)
            unregisterStream(run, kind);
    }
    if (!wake) {
        if (urgent || full)
            wakeDeferred(run);
        return;
    }
    // At most one wake-up of the main thread per interval: a child writing one
    // line per write would otherwise cost a main-thread round trip per line.
    // The end of a stream or of the process is not held back: nothing follows
    // that would share the wake-up. Nor is a full megabyte: the main thread
    // then works through it while the next one is read, and the blocks it
    // hands back are still in the cache when they are read into again.
    const auto now = std::chrono::steady_clock::now();
    if (urgent || full || now >= m_lastWakeAt + wakeInterval) {
        m_lastWakeAt = now;
        m_wake(entry.run);
    } else {
        m_deferred.push_back(entry.run);
    }
}

void OutputPump::wakeAllDeferred()
{
    m_lastWakeAt = std::chrono::steady_clock::now();
    std::vector<std::shared_ptr<ProcessRun>> due;
    due.swap(m_deferred);
    for (const auto& run : due)
        m_wake(run);
}

void OutputPump::wakeDeferred(ProcessRun& run)
{
    const auto it = std::find_if(m_deferred.begin(), m_deferred.end(),
        [&](const std::shared_ptr<ProcessRun>& deferred) { return deferred.get() == &run; });
    if (it == m_deferred.end())
        return;
    const std::shared_ptr<ProcessRun> due = *it;
    m_deferred.erase(it);
    m_lastWakeAt = std::chrono::steady_clock::now();
    m_wake(due);
}

void OutputPump::finish(Entry& entry)
{
    ProcessRun& run = *entry.run;
    // Everything the child wrote before it ended is read before its exit is
    // reported: by this thread alone, once the waiters are gone (a byte one of
    // them read is read first).
    for (ProcessRun::Stream* stream : { &run.out, &run.err }) {
        if (stream->fd < 0)
            continue;
        if (stream->waiter)
            stream->waiter->stop();
        setHot(*stream, nullptr, false);
        setBlocking(*stream, false);
    }
    for (const Kind kind : pipeKinds)
        readStream(entry, kind, drainLimit, true);
    for (const Kind kind : pipeKinds) {
        ProcessRun::Stream& stream = streamOf(run, kind);
        if (stream.fd < 0)
            continue;
        intoPending(run, [&] {
            stream.assembler.finish([&](QByteArrayView line, bool ascii, const LineHints* hints) {
                stage(run, kind == Kind::standardError, line, ascii, hints);
            });
        });
        closeStream(run, kind);
    }
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, run.pidfd, nullptr);

    siginfo_t info {};
    int result;
    do {
        result = ::waitid(idtype_t(P_PIDFD), id_t(run.pidfd), &info, WEXITED);
    } while (result < 0 && errno == EINTR);
    int status = -1;
    bool bySignal = false;
    if (result == 0) {
        status = info.si_status;
        bySignal = info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED;
    } else {
        // Someone else collected the status; report an unknown failure.
        qCWarning(lcPump) << "could not collect the exit status of pid" << run.pid << std::strerror(errno);
    }
    {
        std::lock_guard lock(run.mutex);
        run.pending.status = status;
        run.pending.bySignal = bySignal;
        run.pending.finished = true;
    }
    run.finishedReading = true;
    run.reaped.store(true);
    publish(entry, true, true);
}

} // namespace Wardlamp::Detail
