#pragma once

#include <QByteArray>

#include <deque>
#include <limits>
#include <mutex>
#include <vector>

#include <sys/uio.h>

class QObject;

namespace Wardlamp {

// What waits to be sent to one control client, shared by its connection (main
// thread, which queues) and the ControlWriter's thread (which sends).
//
// A message is a head, a body and a tail sent back to back, so that one log
// batch encoded once is queued to a hundred followers as a hundred references
// to the same bytes (the head is the call's own "{"v":1,"id":…,"event":").
// A message may be droppable: a followed log's lines. When the queue would
// pass its bound, the oldest droppable messages not yet begun are replaced by
// one marker event per call, {"skipped":N} (N lines not sent), so a follower
// that falls behind loses its oldest lines, learns how many, and never holds
// up the manager. When what cannot be dropped passes the bound (a client that
// asks and never reads), the outbox is broken and the connection closes.
class ControlOutbox {
public:
    struct Message {
        QByteArray head;
        QByteArray body;
        QByteArray tail;
        int lines = 0; // droppable log lines it carries
        int skipped = 0; // a marker: lines already dropped
        qsizetype size() const { return head.size() + body.size() + tail.size(); }
        bool droppable() const { return lines > 0 || skipped > 0; }
    };

    // overBudget: what is left to send is droppable and past the budget.
    enum class Sent { everything, wouldBlock, overBudget, broken };

    explicit ControlOutbox(qsizetype maxBytes);

    // Main thread. False when the outbox is broken (or broke now).
    bool push(Message message);
    bool isEmpty() const;
    bool isBroken() const;
    qsizetype queuedBytes() const;
    // Where to post a call of notify() (queued, on the target's thread) when
    // the outbox breaks, and when it empties if wantsEmpty is set. Set to
    // nullptr before the target goes away. Main thread.
    void setNotifyTarget(QObject* target, void (*notify)(QObject*));
    void setWantsEmpty(bool wantsEmpty);
    // Drops everything; the writer sends nothing more.
    void clear();

    // The writer's thread: sends what it can without blocking, and of
    // droppable messages no more than `droppableBudget` bytes; what they took
    // is added to `droppableSent`.
    Sent sendTo(
        int fd, qsizetype droppableBudget = std::numeric_limits<qsizetype>::max(), qsizetype* droppableSent = nullptr);
    // Droppable messages pushed so far: the writer's thread watches it to
    // tell a flood of followed lines.
    quint64 droppablePushed() const;

    static QByteArray markerBody(int skipped);

private:
    void trim(qsizetype needed);
    void notifyLocked();

    mutable std::mutex m_mutex;
    const qsizetype m_maxBytes;
    std::deque<Message> m_queue;
    qsizetype m_bytes = 0;
    quint64 m_droppablePushed = 0;
    qsizetype m_headOffset = 0; // of the front message, already sent
    qsizetype m_inFlight = 0; // front messages the writer is sending now
    bool m_broken = false;
    bool m_wantsEmpty = false;
    QObject* m_target = nullptr;
    void (*m_notify)(QObject*) = nullptr;
};

} // namespace Wardlamp
