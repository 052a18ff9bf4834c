#include "LogRing.h"

#include <algorithm>

namespace Wardlamp {

LogRing::LogRing(int capacity)
    : m_capacity(std::max(1, capacity))
{
}

const LogLine& LogRing::at(int index) const
{
    Q_ASSERT(index >= 0 && index < m_size);
    int physical = m_head + index;
    if (physical >= m_capacity)
        physical -= m_capacity;
    return m_lines.at(physical);
}

int LogRing::indexAfterSeq(quint64 seq) const
{
    // Sequence numbers grow along the ring, so a binary search finds the spot.
    const auto it
        = std::upper_bound(begin(), end(), seq, [](quint64 value, const LogLine& line) { return value < line.seq; });
    return int(it - begin());
}

void LogRing::append(LogLine line)
{
    if (m_lines.size() < m_capacity) {
        // Still filling: the buffer is linear with m_head == 0.
        m_lines.append(std::move(line));
        ++m_size;
        return;
    }
    // Full: overwrite the oldest slot and move the head past it.
    m_lines[m_head] = std::move(line);
    if (++m_head == m_capacity)
        m_head = 0;
}

void LogRing::clear()
{
    m_lines.clear();
    m_head = 0;
    m_size = 0;
}

QList<LogLine> LogRing::toList() const
{
    QList<LogLine> lines;
    lines.reserve(m_size);
    for (const LogLine& line : *this)
        lines.append(line);
    return lines;
}

bool operator==(const LogRing& a, const LogRing& b)
{
    return a.m_capacity == b.m_capacity && a.m_size == b.m_size && std::equal(a.begin(), a.end(), b.begin());
}

} // namespace Wardlamp
