#include "TerminalWriter.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace Wardlamp {

struct TerminalWriter::State {
    explicit State(int descriptor, qsizetype limit)
        : fd(descriptor)
        , maxQueuedBytes(limit)
    {
    }

    const int fd;
    const qsizetype maxQueuedBytes;
    mutable std::mutex mutex;
    std::condition_variable changed;
    QByteArray queued; // guarded by mutex
    quint64 dropped = 0; // lines dropped since the last note, guarded
    quint64 droppedTotal = 0; // guarded
    bool writing = false; // the thread holds text taken from the queue, guarded
    bool stopping = false; // guarded
    bool broken = false; // guarded

    // Writes it all, blocking; false once the reader has gone.
    bool writeAll(const QByteArray& data) const
    {
        const char* next = data.constData();
        qsizetype left = data.size();
        while (left > 0) {
            const ssize_t written = ::write(fd, next, size_t(left));
            if (written > 0) {
                next += written;
                left -= written;
                continue;
            }
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // A descriptor left non-blocking by someone else (a shared
                // pipe, a terminal another program set so): wait here, on
                // this thread, until the reader makes room, or goes.
                pollfd ready { fd, POLLOUT, 0 };
                while (::poll(&ready, 1, -1) < 0 && errno == EINTR) { }
                continue;
            }
            return false; // EPIPE, EBADF, ENOSPC…: nobody reads any more
        }
        return true;
    }

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return !queued.isEmpty() || stopping; });
            if (queued.isEmpty() && stopping)
                return;
            const QByteArray data = std::exchange(queued, QByteArray());
            writing = true;
            lock.unlock();
            const bool written = writeAll(data);
            lock.lock();
            writing = false;
            if (!written) {
                broken = true;
                queued.clear();
            }
            changed.notify_all();
            if (broken)
                return;
        }
    }
};

TerminalWriter::TerminalWriter(int fd, qsizetype maxQueuedBytes)
    : m_state(std::make_shared<State>(fd, maxQueuedBytes))
{
    // The thread holds the state too, so a writer left blocked on a reader
    // that never reads outlives this object safely until the process ends.
    std::thread([state = m_state] { state->run(); }).detach();
}

TerminalWriter::~TerminalWriter()
{
    flush(std::chrono::milliseconds(2000));
    std::lock_guard lock(m_state->mutex);
    m_state->stopping = true;
    m_state->changed.notify_all();
}

QByteArray TerminalWriter::droppedNote(quint64 count)
{
    QByteArray note("\u2026 ");
    note.append(QByteArray::number(count));
    note.append(count == 1 ? " line not shown\n" : " lines not shown\n");
    return note;
}

void TerminalWriter::write(QByteArrayView text, qsizetype lines)
{
    if (text.isEmpty())
        return;
    std::lock_guard lock(m_state->mutex);
    State& state = *m_state;
    if (state.broken)
        return;
    // The note of what was dropped goes first, as soon as there is room for it.
    const QByteArray note = state.dropped > 0 ? droppedNote(state.dropped) : QByteArray();
    if (state.queued.size() + note.size() + text.size() > state.maxQueuedBytes) {
        state.dropped += quint64(std::max<qsizetype>(lines, 1));
        state.droppedTotal += quint64(std::max<qsizetype>(lines, 1));
        return;
    }
    state.queued += note;
    state.dropped = 0;
    state.queued += text;
    state.changed.notify_all();
}

bool TerminalWriter::flush(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(
        lock, timeout, [this] { return m_state->broken || (m_state->queued.isEmpty() && !m_state->writing); });
}

bool TerminalWriter::isBroken() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->broken;
}

quint64 TerminalWriter::droppedLines() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->droppedTotal;
}

} // namespace Wardlamp
