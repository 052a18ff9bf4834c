#include "ControlOutbox.h"

#include <QHash>
#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/socket.h>
#include <utility>

namespace Wardlamp {

namespace {

// One sendmsg takes at most this many messages (three pieces each) …
constexpr qsizetype maxMessagesPerSend = 128;
// … and stops adding messages past this many bytes.
constexpr qsizetype maxBytesPerSend = 4 * 1024 * 1024;

} // namespace

ControlOutbox::ControlOutbox(qsizetype maxBytes)
    : m_maxBytes(maxBytes)
{
}

QByteArray ControlOutbox::markerBody(int skipped)
{
    return "{\"skipped\":" + QByteArray::number(skipped) + '}';
}

bool ControlOutbox::push(Message message)
{
    std::lock_guard lock(m_mutex);
    if (m_broken)
        return false;
    const qsizetype size = message.size();
    // One message is always taken when nothing waits (a large reply to a
    // client that reads); past that, the bound holds.
    if (m_bytes > 0 && m_bytes + size > m_maxBytes) {
        trim(size);
        // The newest lines are kept even so: with the oldest gone, what
        // waits is about the bound, plus what is being sent and this one.
        if (m_bytes > 0 && m_bytes + size > m_maxBytes && !message.droppable()) {
            m_broken = true;
            m_queue.clear();
            m_bytes = 0;
            notifyLocked();
            return false;
        }
    }
    m_bytes += size;
    if (message.droppable())
        ++m_droppablePushed;
    m_queue.push_back(std::move(message));
    return true;
}

void ControlOutbox::trim(qsizetype needed)
{
    // Down to half the bound, so that a follower that stays behind costs a
    // trim now and then, not one per batch.
    const qsizetype target = m_maxBytes / 2;
    const qsizetype keep = std::max(m_inFlight, m_headOffset > 0 ? qsizetype(1) : qsizetype(0));
    std::deque<Message> kept;
    QHash<QByteArray, size_t> markerAt; // a call's head → its marker in kept
    for (qsizetype i = 0; i < qsizetype(m_queue.size()); ++i) {
        Message& message = m_queue[size_t(i)];
        if (i < keep || !message.droppable() || m_bytes + needed <= target) {
            kept.push_back(std::move(message));
            continue;
        }
        m_bytes -= message.size();
        const int count = message.lines + message.skipped;
        const auto found = markerAt.constFind(message.head);
        if (found != markerAt.cend()) {
            Message& marker = kept[*found];
            m_bytes -= marker.size();
            marker.skipped += count;
            marker.body = markerBody(marker.skipped);
            m_bytes += marker.size();
            continue;
        }
        Message marker { message.head, markerBody(count), message.tail, 0, count };
        m_bytes += marker.size();
        markerAt.insert(message.head, kept.size());
        kept.push_back(std::move(marker));
    }
    m_queue = std::move(kept);
}

bool ControlOutbox::isEmpty() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.empty();
}

bool ControlOutbox::isBroken() const
{
    std::lock_guard lock(m_mutex);
    return m_broken;
}

quint64 ControlOutbox::droppablePushed() const
{
    std::lock_guard lock(m_mutex);
    return m_droppablePushed;
}

qsizetype ControlOutbox::queuedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

void ControlOutbox::setNotifyTarget(QObject* target, void (*notify)(QObject*))
{
    std::lock_guard lock(m_mutex);
    m_target = target;
    m_notify = notify;
}

void ControlOutbox::setWantsEmpty(bool wantsEmpty)
{
    std::lock_guard lock(m_mutex);
    m_wantsEmpty = wantsEmpty;
    if (wantsEmpty && m_queue.empty()) {
        // One notice per request: the connection asks again if it still waits.
        m_wantsEmpty = false;
        notifyLocked();
    }
}

void ControlOutbox::clear()
{
    std::lock_guard lock(m_mutex);
    // The writer holds its own references to what it is sending now.
    m_broken = true;
    m_queue.clear();
    m_bytes = 0;
    m_inFlight = 0;
    m_headOffset = 0;
}

void ControlOutbox::notifyLocked()
{
    // Posted while the target is known to be alive (it unsets itself under
    // this lock before it goes); Qt discards the event if it goes later.
    if (!m_target || !m_notify)
        return;
    QMetaObject::invokeMethod(
        m_target, [target = m_target, notify = m_notify] { notify(target); }, Qt::QueuedConnection);
}

ControlOutbox::Sent ControlOutbox::sendTo(int fd, qsizetype droppableBudget, qsizetype* droppableSent)
{
    std::array<QByteArray, maxMessagesPerSend * 3> pieces;
    std::array<iovec, maxMessagesPerSend * 3> vectors {};
    std::array<bool, maxMessagesPerSend * 3> droppable {};
    for (;;) {
        size_t count = 0;
        qsizetype total = 0;
        bool overBudget = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_broken)
                return Sent::broken;
            if (m_queue.empty())
                return Sent::everything;
            qsizetype skip = m_headOffset;
            qsizetype messages = 0;
            qsizetype budget = droppableBudget;
            for (const Message& message : m_queue) {
                if (messages == maxMessagesPerSend || total >= maxBytesPerSend)
                    break;
                if (message.droppable() && budget <= 0) {
                    overBudget = true;
                    break;
                }
                ++messages;
                bool cut = false; // the budget ends within this message
                for (const QByteArray* piece : { &message.head, &message.body, &message.tail }) {
                    if (piece->size() <= skip) {
                        skip -= piece->size();
                        continue;
                    }
                    qsizetype length = piece->size() - skip;
                    if (message.droppable() && length > budget) {
                        length = budget;
                        cut = true;
                    }
                    if (message.droppable())
                        budget -= length;
                    if (length == 0)
                        break;
                    pieces[count] = *piece; // a reference: the bytes stay valid outside the lock
                    vectors[count] = iovec { const_cast<char*>(pieces[count].constData()) + skip, size_t(length) };
                    droppable[count] = message.droppable();
                    total += length;
                    skip = 0;
                    ++count;
                    if (cut)
                        break;
                }
                if (cut) {
                    overBudget = true;
                    break;
                }
            }
            m_inFlight = messages;
        }
        if (count == 0)
            return Sent::overBudget; // the front message is droppable, and nothing is left of the budget
        msghdr header {};
        header.msg_iov = vectors.data();
        header.msg_iovlen = count;
        ssize_t sent;
        do
            sent = ::sendmsg(fd, &header, MSG_NOSIGNAL | MSG_DONTWAIT);
        while (sent < 0 && errno == EINTR);
        const int error = errno;
        qsizetype unaccounted = std::max<qsizetype>(sent, 0);
        for (size_t i = 0; i < count; ++i) {
            const qsizetype taken = std::min(unaccounted, qsizetype(vectors[i].iov_len));
            unaccounted -= taken;
            if (droppable[i]) {
                droppableBudget -= taken;
                if (droppableSent)
                    *droppableSent += taken;
            }
            pieces[i] = QByteArray();
        }

        std::lock_guard lock(m_mutex);
        m_inFlight = 0;
        if (m_broken)
            return Sent::broken;
        if (sent < 0) {
            if (error == EAGAIN || error == EWOULDBLOCK)
                return Sent::wouldBlock;
            // EPIPE, ECONNRESET: the client is gone.
            m_broken = true;
            m_queue.clear();
            m_bytes = 0;
            notifyLocked();
            return Sent::broken;
        }
        qsizetype remaining = sent;
        while (remaining > 0 && !m_queue.empty()) {
            const qsizetype left = m_queue.front().size() - m_headOffset;
            if (left > remaining) {
                m_headOffset += remaining;
                break;
            }
            remaining -= left;
            m_bytes -= m_queue.front().size();
            m_queue.pop_front();
            m_headOffset = 0;
        }
        if (m_queue.empty()) {
            if (std::exchange(m_wantsEmpty, false))
                notifyLocked();
            return Sent::everything;
        }
        if (sent < total)
            return Sent::wouldBlock;
        if (overBudget)
            return Sent::overBudget;
    }
}

} // namespace Wardlamp
