#include "EventBuffers.h"

#include <atomic>

namespace Wardlamp {

QByteArray& EventBuffers::take()
{
    // Drop what grew past the limit while no one holds it.
    std::erase_if(m_kept, [](const QByteArray& kept) { return kept.isDetached() && kept.capacity() > maxKeptBytes; });
    for (QByteArray& kept : m_kept) {
        if (kept.isDetached()) {
            std::atomic_thread_fence(std::memory_order_acquire);
            return kept;
        }
    }
    qsizetype keptBytes = 0;
    for (const QByteArray& kept : m_kept)
        keptBytes += kept.capacity();
    if (m_kept.size() < maxKept && keptBytes < maxKeptTotalBytes)
        return m_kept.emplace_back();
    m_unkept = QByteArray();
    return m_unkept;
}

void EventBuffers::release()
{
    m_kept.clear();
    m_unkept = QByteArray();
}

} // namespace Wardlamp
