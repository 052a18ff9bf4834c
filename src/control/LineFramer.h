#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace Wardlamp {

// Cuts a byte stream into lines at "\n" (a "\r" before it goes too), with a
// bound on one line's length so that a peer that never sends a line feed
// cannot make it hold unbounded memory. Pure; one per connection.
class LineFramer {
public:
    explicit LineFramer(qsizetype maxLineBytes);

    // Adds bytes. False once the unfinished line is longer than the bound;
    // the framer is then of no further use.
    bool append(QByteArrayView bytes);
    // The next complete line without its line end, oldest first.
    std::optional<QByteArray> takeLine();
    // Bytes of a line that has begun but not ended.
    bool hasPartialLine() const;
    bool isOverflowed() const { return m_overflowed; }

private:
    void compact();

    qsizetype m_maxLineBytes;
    QByteArray m_buffer;
    qsizetype m_start = 0; // where the next line begins
    qsizetype m_scanned = 0; // no "\n" in m_buffer[m_start, m_scanned)
    qsizetype m_tailStart = 0; // just after the last "\n" appended
    bool m_overflowed = false;
};

} // namespace Wardlamp
