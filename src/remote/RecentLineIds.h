#pragma once

#include <QSet>
#include <QUuid>

#include <deque>

namespace Wardlamp {

// The ids of the log lines printed most recently, so that a line the desktop
// sends again (a backlog after a reconnection holds lines already printed) is
// printed once, while following a busy log for hours holds a bounded memory:
// past `capacity` ids, the oldest is forgotten. The desktop re-sends at most
// its recent lines (a few thousand per server), far fewer than the capacity.
class RecentLineIds {
public:
    static constexpr qsizetype defaultCapacity = 65536;

    explicit RecentLineIds(qsizetype capacity = defaultCapacity);

    // True the first time `id` is seen among the last `capacity` ids.
    bool insert(const QUuid& id);
    bool contains(const QUuid& id) const { return m_ids.contains(id); }
    qsizetype size() const { return m_ids.size(); }

private:
    qsizetype m_capacity;
    QSet<QUuid> m_ids;
    std::deque<QUuid> m_order; // oldest first
};

} // namespace Wardlamp
