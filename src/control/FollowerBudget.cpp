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
        m_available = maxSavedBytes; // a shared flood starts with what the quiet spell saved
    }
    m_updated = now;
}

} // namespace Wardlamp
