#include "CapturedLines.h"

namespace Wardlamp {

CapturedLines::CapturedLines(std::span<const Run> runs)
    : m_runs(runs)
{
    for (const Run& run : runs) {
        Q_ASSERT(run.count > 0);
        m_size += run.count;
    }
}

CapturedLines::CapturedLines(const CapturedLines& other)
{
    *this = other;
}

CapturedLines& CapturedLines::operator=(const CapturedLines& other)
{
    m_single = other.m_single;
    m_size = other.m_size;
    // A batch of one array points at its own run: the copy points at its own.
    m_runs
        = other.m_runs.data() == &other.m_single ? std::span<const Run>(&m_single, other.m_runs.size()) : other.m_runs;
    return *this;
}

CapturedLine CapturedLines::operator[](std::size_t i) const
{
    Q_ASSERT(i < m_size);
    for (const Run& run : m_runs) {
        if (i < run.count)
            return run.at(i);
        i -= run.count;
    }
    return {};
}

} // namespace Wardlamp
