#include "FollowerBudget.h"

#include <algorithm>

namespace Wardlamp {

void FollowerBudget::update(Clock::time_point now, int followersFed)
{
    const bool wasLimited = m_limited;
    m_limited = followersFed > 1;
    if (m_limited && wasLimited) {
        const qint64 elapsedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_updated).count();
        if (elapsedNs > 0)
            m_available += qint64(double(elapsedNs) * 1e-9 * double(floodBytesPerSecond));
        m_available = std::min(m_available, maxSavedBytes);
    } else {
        m_available = maxSavedBytes; // the full allowance while unlimited, and when the limit starts
    }
    m_updated = now;
}

bool FollowerBudget::Feed::fedRecently(quint64 pushed, Clock::time_point now)
{
    if (pushed != m_seenPushed) {
        m_seenPushed = pushed;
        m_lastFed = now;
    }
    return m_lastFed && now - *m_lastFed < quietAfter;
}

} // namespace Wardlamp
