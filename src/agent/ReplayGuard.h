#pragma once

#include <QByteArray>
#include <QSet>

#include <deque>

namespace Wardlamp {

// Remembers the nonces of the last `capacity` payloads accepted under one
// content key, so that a payload captured and sent again (by a hostile relay)
// is refused and a command runs once. Bounded: the oldest nonce is forgotten
// first. Main thread; owned by the agent.
class ReplayGuard {
public:
    explicit ReplayGuard(int capacity = 4096);

    // True the first time a nonce is offered (and remembers it); false for a
    // nonce already accepted.
    bool accept(const QByteArray& nonce);
    void clear();
    int size() const { return int(m_order.size()); }
    // The remembered nonces, oldest first.
    const std::deque<QByteArray>& nonces() const { return m_order; }

private:
    int m_capacity;
    QSet<QByteArray> m_seen;
    std::deque<QByteArray> m_order;
};

} // namespace Wardlamp
