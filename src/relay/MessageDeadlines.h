#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <list>

namespace Wardlamp {

class Peer;

// The peers in the middle of a message (or of a frame), oldest first, and one timer
// for the oldest: a peer whose message is not complete within the timeout is told
// so (Peer::messageTimedOut, its entry already removed). Every message gets the same timeout, so adding at the
// back keeps the list in deadline order and each operation is O(1) whatever the
// number of peers. A peer removes its entry when its message is done and before it
// dies. Owned by RelayContext; io thread only.
class MessageDeadlines {
public:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        Clock::time_point deadline;
        Peer* peer;
    };
    using Ticket = std::list<Entry>::iterator;

    MessageDeadlines(boost::asio::any_io_executor executor, std::chrono::milliseconds timeout);
    MessageDeadlines(const MessageDeadlines&) = delete;
    MessageDeadlines& operator=(const MessageDeadlines&) = delete;

    // `peer` started a message now.
    Ticket add(Peer& peer);
    void remove(Ticket ticket);
    std::size_t size() const { return m_entries.size(); }

private:
    void arm();
    void handleTimer();

    std::chrono::milliseconds m_timeout;
    std::list<Entry> m_entries;
    boost::asio::steady_timer m_timer;
    bool m_armed = false;
};

} // namespace Wardlamp
