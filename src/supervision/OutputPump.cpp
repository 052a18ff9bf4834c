#include "OutputPump.h"

#include "ErrorPattern.h"
#include "PortInUse.h"
#include "ShellCommand.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace Wardlamp::Detail {

namespace {

Q_LOGGING_CATEGORY(lcPump, "wardlamp.supervision")

constexpr int exitKind = 2;

} // namespace

OutputPump::OutputPump(Wake wake)
    : m_wake(std::move(wake))
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_epoll < 0 || m_event < 0)
        qFatal("wardlamp: cannot create the output thread's epoll or eventfd: %s", std::strerror(errno));
    epoll_event ev {};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_event, &ev);
    m_thread = std::thread([this] { loop(); });
}

OutputPump::~OutputPump()
{
    {
        std::lock_guard lock(m_commandMutex);
        m_stop = true;
    }
    const quint64 one = 1;
    ssize_t ignored = ::write(m_event, &one, sizeof one);
    (void)ignored;
    m_thread.join();
    for (auto& [run, entry] : m_entries) {
        for (ProcessRun::Stream* stream : { &run->out, &run->err }) {
            if (stream->fd >= 0)
                ::close(stream->fd);
            stream->fd = -1;
        }
    }
    ::close(m_event);
    ::close(m_epoll);
}

void OutputPump::add(const std::shared_ptr<ProcessRun>& run)
{
    post(Command::Add, run);
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
        post(Command::Resume, runPtr);
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
    while (!m_stopping) {
        int timeout = -1;
        if (!m_deferred.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                m_lastWakeAt + wakeInterval - std::chrono::steady_clock::now());
            timeout = int(std::max<std::chrono::milliseconds::rep>(0, left.count()));
        }
        const int count = ::epoll_wait(m_epoll, events, 64, timeout);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            qCCritical(lcPump) << "epoll_wait failed:" << std::strerror(errno);
            return;
        }
        for (int i = 0; i < count; ++i) {
            auto* source = static_cast<Source*>(events[i].data.ptr);
            if (!source) {
                quint64 value;
                ssize_t ignored = ::read(m_event, &value, sizeof value);
                (void)ignored;
                handleCommands();
                continue;
            }
            const auto it = m_entries.find(source->run);
            if (it == m_entries.end() || it->second->run->finishedReading)
                continue;
            Entry& entry = *it->second;
            if (source->kind == exitKind) {
                finish(entry);
                finished.push_back(source->run);
            } else {
                readStream(entry, source->kind, 4 * readSize, false);
            }
        }
        if (!m_deferred.empty() && std::chrono::steady_clock::now() >= m_lastWakeAt + wakeInterval) {
            m_lastWakeAt = std::chrono::steady_clock::now();
            std::vector<std::shared_ptr<ProcessRun>> due;
            due.swap(m_deferred);
            for (const auto& run : due)
                m_wake(run);
        }
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
        if (command == Command::Add) {
            auto entry = std::make_unique<Entry>();
            entry->run = run;
            for (int kind = 0; kind < 3; ++kind)
                entry->sources[kind] = Source { run.get(), kind };
            Entry& added = *entry;
            m_entries.emplace(run.get(), std::move(entry));
            registerStream(added, 0);
            registerStream(added, 1);
            registerStream(added, exitKind);
        } else {
            const auto it = m_entries.find(run.get());
            if (it == m_entries.end() || run->finishedReading)
                continue;
            registerStream(*it->second, 0);
            registerStream(*it->second, 1);
        }
    }
}

void OutputPump::registerStream(Entry& entry, int kind)
{
    ProcessRun& run = *entry.run;
    int fd = run.pidfd;
    if (kind != exitKind) {
        ProcessRun::Stream& stream = kind == 0 ? run.out : run.err;
        if (stream.fd < 0 || stream.registered)
            return;
        fd = stream.fd;
        stream.registered = true;
    }
    epoll_event ev {};
    ev.events = EPOLLIN;
    ev.data.ptr = &entry.sources[kind];
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0)
        qCWarning(lcPump) << "cannot watch a child descriptor:" << std::strerror(errno);
}

void OutputPump::unregisterStream(ProcessRun& run, int kind)
{
    ProcessRun::Stream& stream = kind == 0 ? run.out : run.err;
    if (stream.fd >= 0 && stream.registered)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, stream.fd, nullptr);
    stream.registered = false;
}

void OutputPump::closeStream(ProcessRun& run, int kind)
{
    ProcessRun::Stream& stream = kind == 0 ? run.out : run.err;
    unregisterStream(run, kind);
    if (stream.fd >= 0)
        ::close(stream.fd);
    stream.fd = -1;
}

void OutputPump::readStream(Entry& entry, int kind, qsizetype limit, bool drain)
{
    ProcessRun& run = *entry.run;
    ProcessRun::Stream& stream = kind == 0 ? run.out : run.err;
    if (stream.fd < 0)
        return;
    const bool isStderr = kind == 1;
    auto sink
        = [&](QByteArrayView line, bool ascii, const LineHints* hints) { stage(run, isStderr, line, ascii, hints); };

    qsizetype total = 0;
    bool ended = false;
    for (;;) {
        // Read straight into the batch: lines that arrive whole are not copied again.
        reserveStaging(readSize + LineClassifier::readPastEnd);
        const qsizetype base = m_staging.bytes.size();
        m_staging.bytes.resize(base + readSize);
        m_chunk = m_staging.bytes.data() + base;
        const ssize_t n = ::read(stream.fd, m_chunk, size_t(readSize));
        // Shrinking keeps the capacity, so the classifier may still read past the end.
        m_staging.bytes.resize(base + std::max<qsizetype>(n, 0));
        if (n > 0) {
            total += n;
            m_classifier.scan(m_chunk, n);
            stream.assembler.feed(QByteArrayView(m_chunk, n), sink, &m_classifier);
            m_chunk = nullptr;
            mergeSideLines();
            // A short read means the pipe is empty for now; epoll reports the rest.
            if ((!drain && n < readSize) || total >= limit)
                break;
            continue;
        }
        m_chunk = nullptr;
        if (n == 0) {
            ended = true;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            ended = true;
        break;
    }
    if (ended) {
        stream.assembler.finish(sink);
        mergeSideLines();
        closeStream(run, kind);
    }
    publish(entry, drain);
}

void OutputPump::reserveStaging(qsizetype extra)
{
    const qsizetype needed = m_staging.bytes.size() + extra;
    if (m_staging.bytes.capacity() >= needed)
        return;
    if (m_staging.bytes.isEmpty() && m_staging.lines.empty()) {
        // Take a buffer the main thread has finished with: its pages are mapped already.
        std::lock_guard lock(m_recycleMutex);
        while (!m_recycled.empty()) {
            PendingOutput spare = std::move(m_recycled.back());
            m_recycled.pop_back();
            if (spare.bytes.capacity() >= needed) {
                spare.clear();
                std::swap(m_staging.bytes, spare.bytes);
                std::swap(m_staging.lines, spare.lines);
                return;
            }
        }
    }
    m_staging.bytes.reserve(std::max(needed, m_staging.bytes.size() + 4 * readSize));
}

void OutputPump::recycle(PendingOutput&& output)
{
    if (output.bytes.capacity() < readSize || !output.bytes.isDetached())
        return;
    std::lock_guard lock(m_recycleMutex);
    if (m_recycled.size() < 2)
        m_recycled.push_back(std::move(output));
}

void OutputPump::mergeSideLines()
{
    if (m_sideLines.empty())
        return;
    const auto base = quint32(m_staging.bytes.size());
    m_staging.bytes.append(m_side);
    for (std::size_t index : m_sideLines)
        m_staging.lines[index].offset += base;
    m_side.resize(0);
    m_sideLines.clear();
}

void OutputPump::stage(ProcessRun& run, bool isStderr, QByteArrayView line, bool ascii, const LineHints* hints)
{
    if (line.isEmpty() || run.discard.load(std::memory_order_relaxed))
        return;
    if (isStderr && !run.stderrStarted) {
        if (run.droppedNoise < 2 && ShellCommand::isJobControlNoise(line)) {
            ++run.droppedNoise;
            return;
        }
        run.stderrStarted = true;
    }
    quint8 flags = isStderr ? RawLine::Stderr | RawLine::Error : 0;
    if (hints) {
        if (hints->error)
            flags |= RawLine::Error;
        if (hints->mayMentionPort)
            flags |= RawLine::MaybePort;
    } else if (ascii) {
        if (!isStderr && ErrorPattern::matchesAscii(line))
            flags |= RawLine::Error;
        if (PortInUse::mayMentionAscii(line))
            flags |= RawLine::MaybePort;
    } else {
        flags |= RawLine::NonAscii | RawLine::MaybePort;
        if (!isStderr && ErrorPattern::matches(QString::fromUtf8(line)))
            flags |= RawLine::Error;
    }
    RawLine raw;
    raw.length = quint32(line.size());
    raw.flags = flags;
    if (hints && m_chunk) {
        // Lines with hints lie in the chunk, which is part of the batch already.
        raw.offset = quint32(line.data() - m_staging.bytes.constData());
    } else {
        // Others (assembled, repaired, cut) are copied aside and joined after
        // the chunk: appending now could move the chunk being read.
        raw.offset = quint32(m_side.size());
        m_side.append(line.data(), line.size());
        m_sideLines.push_back(m_staging.lines.size());
    }
    m_staging.lines.push_back(raw);
}

void OutputPump::publish(Entry& entry, bool drain)
{
    ProcessRun& run = *entry.run;
    if (m_staging.isEmpty())
        return;
    bool wake = false;
    bool pause = false;
    {
        std::lock_guard lock(run.mutex);
        run.pending.append(m_staging);
        wake = !run.wakeQueued;
        run.wakeQueued = true;
        if (!drain && !run.pending.finished && run.pending.bytes.size() > pauseBytes) {
            run.paused = true;
            pause = true;
        }
    }
    if (pause) {
        qCDebug(lcPump) << "pid" << run.pid << "paused until the main thread catches up";
        unregisterStream(run, 0);
        unregisterStream(run, 1);
    }
    if (!wake)
        return;
    // At most one wake-up of the main thread per interval: a child writing one
    // line per write would otherwise cost a main-thread round trip per line.
    const auto now = std::chrono::steady_clock::now();
    if (now >= m_lastWakeAt + wakeInterval) {
        m_lastWakeAt = now;
        m_wake(entry.run);
    } else {
        m_deferred.push_back(entry.run);
    }
}

void OutputPump::finish(Entry& entry)
{
    ProcessRun& run = *entry.run;
    // Everything the child wrote before it ended is read before its exit is reported.
    readStream(entry, 0, drainLimit, true);
    readStream(entry, 1, drainLimit, true);
    for (int kind = 0; kind < 2; ++kind) {
        ProcessRun::Stream& stream = kind == 0 ? run.out : run.err;
        if (stream.fd < 0)
            continue;
        stream.assembler.finish([&](QByteArrayView line, bool ascii, const LineHints* hints) {
            stage(run, kind == 1, line, ascii, hints);
        });
        mergeSideLines();
        closeStream(run, kind);
    }
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, run.pidfd, nullptr);

    siginfo_t info {};
    int result;
    do {
        result = ::waitid(idtype_t(P_PIDFD), id_t(run.pidfd), &info, WEXITED);
    } while (result < 0 && errno == EINTR);
    if (result == 0 && (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED)) {
        m_staging.status = info.si_status;
        m_staging.bySignal = true;
    } else if (result == 0) {
        m_staging.status = info.si_status;
        m_staging.bySignal = false;
    } else {
        // Someone else collected the status; report an unknown failure.
        qCWarning(lcPump) << "could not collect the exit status of pid" << run.pid << std::strerror(errno);
        m_staging.status = -1;
        m_staging.bySignal = false;
    }
    m_staging.finished = true;
    run.finishedReading = true;
    run.reaped.store(true);
    publish(entry, true);
}

} // namespace Wardlamp::Detail
