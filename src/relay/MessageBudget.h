#pragma once

#include "RelayStats.h"

#include <algorithm>
#include <cstddef>

namespace Wardlamp {

// The bytes all unfinished messages of all peers may hold together. A FrameReader
// takes from it before its message buffer grows and gives back when the message
// is done or dropped, so trickling peers cannot pile up memory past the limit
// however many of them there are. What is held shows in the relay's counters.
// Owned by RelayContext; io thread only.
class MessageBudget {
public:
    MessageBudget(std::size_t limitBytes, RelayStats& stats)
        : m_limit(limitBytes)
        , m_stats(stats)
    {
    }
    MessageBudget(const MessageBudget&) = delete;
    MessageBudget& operator=(const MessageBudget&) = delete;

    // Takes `bytes`; false, and nothing taken, when that would pass the limit.
    bool take(std::size_t bytes)
    {
        const std::size_t held = m_stats.unfinishedMessageBytes;
        if (held > m_limit || bytes > m_limit - held)
            return false;
        add(bytes);
        return true;
    }
    // Takes `bytes` whatever the limit (the few bytes an allocator rounds up).
    void add(std::size_t bytes)
    {
        m_stats.unfinishedMessageBytes += bytes;
        if (m_stats.unfinishedMessageBytes > m_stats.peakUnfinishedMessageBytes)
            m_stats.peakUnfinishedMessageBytes = m_stats.unfinishedMessageBytes;
    }
    void give(std::size_t bytes) { m_stats.unfinishedMessageBytes -= std::min(bytes, m_stats.unfinishedMessageBytes); }

    std::size_t limit() const { return m_limit; }
    std::size_t held() const { return m_stats.unfinishedMessageBytes; }

private:
    std::size_t m_limit;
    RelayStats& m_stats;
};

} // namespace Wardlamp
