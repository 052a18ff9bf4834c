#include "MessageDeadlines.h"

#include "Peer.h"

namespace Wardlamp {

MessageDeadlines::MessageDeadlines(boost::asio::any_io_executor executor, std::chrono::milliseconds timeout)
    : m_timeout(timeout)
    , m_timer(std::move(executor))
{
}

MessageDeadlines::Ticket MessageDeadlines::add(Peer& peer)
{
    m_entries.push_back({ Clock::now() + m_timeout, &peer });
    if (!m_armed)
        arm();
    return std::prev(m_entries.end());
}

void MessageDeadlines::remove(Ticket ticket)
{
    m_entries.erase(ticket);
    // A pending wait holds the io_context's run() open: none may outlive the last entry.
    if (m_entries.empty() && m_armed) {
        m_armed = false;
        m_timer.cancel();
    }
}

void MessageDeadlines::arm()
{
    m_armed = true;
    m_timer.expires_at(m_entries.front().deadline);
    // The relay's io_context stops before its context (and so this object) is destroyed.
    m_timer.async_wait([this](boost::system::error_code error) {
        if (!error)
            handleTimer();
    });
}

void MessageDeadlines::handleTimer()
{
    m_armed = false;
    const auto now = Clock::now();
    // An entry whose message finished early was removed already, which only moved
    // the front's deadline later.
    while (!m_entries.empty() && m_entries.front().deadline <= now) {
        Peer* peer = m_entries.front().peer;
        m_entries.pop_front();
        peer->messageTimedOut();
    }
    if (!m_entries.empty() && !m_armed)
        arm();
}

} // namespace Wardlamp
