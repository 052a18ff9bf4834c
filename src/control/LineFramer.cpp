#include "LineFramer.h"

namespace Wardlamp {

LineFramer::LineFramer(qsizetype maxLineBytes)
    : m_maxLineBytes(maxLineBytes)
{
}

bool LineFramer::append(QByteArrayView bytes)
{
    if (m_overflowed)
        return false;
    compact();
    // Only the unfinished tail can be over the bound (whole lines in between
    // are checked as they are taken); only the new bytes are searched, so a
    // long line arriving in many pieces costs no more than its length.
    const qsizetype lastEnd = bytes.lastIndexOf('\n');
    if (lastEnd >= 0)
        m_tailStart = m_buffer.size() + lastEnd + 1;
    m_buffer.append(bytes);
    if (m_buffer.size() - std::max(m_tailStart, m_start) > m_maxLineBytes)
        m_overflowed = true;
    return !m_overflowed;
}

std::optional<QByteArray> LineFramer::takeLine()
{
    if (m_overflowed)
        return std::nullopt;
    const qsizetype end = m_buffer.indexOf('\n', std::max(m_start, m_scanned));
    if (end < 0) {
        m_scanned = m_buffer.size();
        return std::nullopt;
    }
    qsizetype length = end - m_start;
    if (length > m_maxLineBytes) {
        m_overflowed = true;
        return std::nullopt;
    }
    if (length > 0 && m_buffer[end - 1] == '\r')
        --length;
    QByteArray line = m_buffer.sliced(m_start, length);
    m_start = end + 1;
    m_scanned = m_start;
    return line;
}

bool LineFramer::hasPartialLine() const
{
    return m_buffer.size() > m_start;
}

void LineFramer::compact()
{
    if (m_start == 0)
        return;
    m_buffer.remove(0, m_start);
    m_scanned -= m_start;
    m_tailStart = std::max<qsizetype>(0, m_tailStart - m_start);
    m_start = 0;
}

} // namespace Wardlamp
