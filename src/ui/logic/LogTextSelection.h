#pragma once

#include "ui/logic/TextMatches.h"

#include <QtGlobal>

#include <algorithm>
#include <compare>
#include <optional>

namespace Wardlamp {

// A place in the log's shown text: a line (by sequence number) and a position
// in its text (UTF-16 code units).
struct LogTextPoint {
    quint64 seq = 0;
    int offset = 0;

    friend auto operator<=>(const LogTextPoint&, const LogTextPoint&) = default;
};

// The text selected in the log view, from where the mouse went down (the
// anchor) to where it is now (the focus), in either direction; by line
// number, so it stays on its lines while others come and go. Pure.
class LogTextSelection {
public:
    void start(LogTextPoint point)
    {
        m_anchor = point;
        m_focus = point;
        m_active = true;
    }
    void extend(LogTextPoint point)
    {
        if (m_active)
            m_focus = point;
    }
    void select(LogTextPoint from, LogTextPoint to)
    {
        m_anchor = from;
        m_focus = to;
        m_active = true;
    }
    void clear() { m_active = false; }

    bool isEmpty() const { return !m_active || m_anchor == m_focus; }
    LogTextPoint begin() const { return std::min(m_anchor, m_focus); }
    LogTextPoint end() const { return std::max(m_anchor, m_focus); }

    // The selected stretch of the line `seq` whose text is `length` long, or
    // nothing. A line wholly inside a selection that goes on past it is
    // selected to its end.
    std::optional<TextMatches::Range> rangeIn(quint64 seq, int length) const
    {
        if (isEmpty())
            return std::nullopt;
        const LogTextPoint first = begin();
        const LogTextPoint last = end();
        if (seq < first.seq || seq > last.seq)
            return std::nullopt;
        const int from = seq == first.seq ? std::clamp(first.offset, 0, length) : 0;
        const int to = seq == last.seq ? std::clamp(last.offset, 0, length) : length;
        if (to <= from)
            return std::nullopt;
        return TextMatches::Range { from, to - from };
    }

private:
    LogTextPoint m_anchor;
    LogTextPoint m_focus;
    bool m_active = false;
};

} // namespace Wardlamp
