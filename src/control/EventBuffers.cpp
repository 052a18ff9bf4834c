#include "EventBuffers.h"

#include <atomic>
#include <optional>

namespace Wardlamp {

EventBuffers::EventBuffers(std::chrono::milliseconds unusedFor)
    : m_unusedFor(unusedFor)
{
}

QByteArray& EventBuffers::take()
{
    const Clock::time_point now = Clock::now();
    // The first free array is written over; other free ones that grew past
    // the limit, or that no batch needed lately, are let go.
    std::optional<std::size_t> chosen;
    std::size_t out = 0;
    for (std::size_t i = 0; i < m_kept.size(); ++i) {
        Kept& kept = m_kept[i];
        const bool free = kept.array.isDetached();
        const bool tooLarge = kept.array.capacity() > maxKeptBytes;
        const bool choose = !chosen && free && !tooLarge;
        if (!choose && free && (tooLarge || now - kept.taken > m_unusedFor))
            continue;
        if (choose) {
            chosen = out;
            kept.taken = now;
        }
        if (out != i)
            m_kept[out] = std::move(kept);
        ++out;
    }
    m_kept.resize(out);
    if (chosen) {
        std::atomic_thread_fence(std::memory_order_acquire);
        return m_kept[*chosen].array;
    }
    qsizetype keptBytes = 0;
    for (const Kept& kept : m_kept)
        keptBytes += kept.array.capacity();
    if (m_kept.size() < maxKept && keptBytes < maxKeptTotalBytes)
        return m_kept.emplace_back(Kept { QByteArray(), now }).array;
    m_unkept = QByteArray();
    return m_unkept;
}

void EventBuffers::release()
{
    m_kept.clear();
    m_unkept = QByteArray();
}

} // namespace Wardlamp
