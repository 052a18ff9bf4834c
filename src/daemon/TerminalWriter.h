#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <chrono>
#include <memory>

namespace Wardlamp {

// Writes a program's terminal output (wardlampd's log lines, its messages) on
// a thread of its own, so that a reader that does not keep up (`wardlampd |
// less`, a slow SSH link, Ctrl+S) never holds up the main thread, and with it
// stops, exits, restarts and forced kills. What waits is bounded: text that
// does not fit is dropped whole, counted, and said in its place once the
// reader catches up ("… N lines not shown"); the servers' logs keep
// everything. A reader that has gone (EPIPE) ends the writing for good.
//
// The descriptor keeps its flags (a terminal is shared with the shell): the
// thread blocks in write(), the callers never do. Any thread may call write().
class TerminalWriter {
public:
    static constexpr qsizetype defaultMaxQueuedBytes = 1024 * 1024;

    explicit TerminalWriter(int fd, qsizetype maxQueuedBytes = defaultMaxQueuedBytes);
    // Waits for the queue a moment (flush()); a reader that takes nothing is
    // left behind, with the thread blocked on it.
    ~TerminalWriter();
    TerminalWriter(const TerminalWriter&) = delete;
    TerminalWriter& operator=(const TerminalWriter&) = delete;

    // Queues `text`, which holds `lines` whole lines.
    void write(QByteArrayView text, qsizetype lines);
    // Waits until everything queued is written, at most `timeout`; false when
    // the reader did not take it in time.
    bool flush(std::chrono::milliseconds timeout);
    // The reader has gone; nothing is written any more.
    bool isBroken() const;
    // Lines dropped so far because the reader did not keep up.
    quint64 droppedLines() const;

    // The text that stands for `count` dropped lines.
    static QByteArray droppedNote(quint64 count);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace Wardlamp
