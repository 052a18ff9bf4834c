#include "FollowerBudget.h"

#include <algorithm>

namespace Wardlamp {

void FollowerBudget::update(Clock::time_point now, bool batchesCame)
{
    if (batchesCame) {
        if (!m_limited)
            m_available = maxSavedBytes; // a flood starts with what the quiet spell saved
        m_lastBatch = now;
        m_limited = true;
    } else if (m_limited && now - m_lastBatch >= quietAfter) {
        m_limited = false;
    }
    if (m_limited) {
        const qint64 elapsedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_updated).count();
        if (elapsedNs > 0)
            m_available += qint64(double(elapsedNs) * 1e-9 * double(floodBytesPerSecond));
        m_available = std::min(m_available, maxSavedBytes);
    } else {
        m_available = maxSavedBytes;
    }
    m_updated = now;
}

} // namespace Wardlamp
