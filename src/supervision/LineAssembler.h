#pragma once

#include "ErrorPattern.h"
#include "LineClassifier.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstring>

namespace Wardlamp {

// Turns a byte stream into lines. A line ends at "\n" or "\r\n" (neither is
// part of the line); a line may arrive over any number of reads; a line longer
// than maxLineBytes is cut into pieces of at most that size (never inside a
// UTF-8 sequence), so a child that never writes a line feed cannot exhaust
// memory; finish() hands out a last line without a line feed. Every line handed
// out is valid UTF-8: invalid bytes become U+FFFD. A multi-byte character split
// across reads is kept whole, since only complete lines are decoded.
//
// One assembler per stream; not thread-safe. The sink is called as
// sink(QByteArrayView line, bool ascii, const LineHints* hints) with a view
// valid during the call; empty lines are handed out too. When feed() is given
// a classifier that has scanned the chunk, lines that lie whole inside the
// chunk come with hints (error word, in-use wording) and point into `data`;
// others come without, and may point into the assembler's own buffers.
struct LineHints {
    bool error = false;
    bool mayMentionPort = false;
};

class LineAssembler {
public:
    static constexpr qsizetype maxLineBytes = 64 * 1024;
    // The hints of every line that the marks show free of all three kinds
    // (a sink may compare the pointer to skip its own checks).
    static constexpr LineHints cleanLine {};

    template <typename Sink> void feed(QByteArrayView data, Sink&& sink, const LineClassifier* scanned = nullptr);
    template <typename Sink> void finish(Sink&& sink);

    qsizetype pendingBytes() const { return m_partial.size(); }

    // Where a line of more than `limit` bytes is cut: at `limit`, or a little
    // earlier so that a UTF-8 sequence is not torn apart.
    static qsizetype cutPosition(QByteArrayView line, qsizetype limit);

private:
    template <typename Sink> void deliver(QByteArrayView line, bool complete, Sink& sink);
    template <typename Sink> void splitOverlong(Sink& sink);

    QByteArray m_partial;
    QByteArray m_repaired;
};

template <typename Sink> void LineAssembler::feed(QByteArrayView data, Sink&& sink, const LineClassifier* scanned)
{
    const char* const begin = data.data();
    const qsizetype size = data.size();
    qsizetype pos = 0;
    if (!m_partial.isEmpty() || !scanned) {
        // The end of the line begun earlier, or every line when nothing was scanned.
        while (pos < size) {
            qsizetype end;
            if (scanned) {
                end = scanned->findNewline(pos);
            } else {
                const void* found = std::memchr(begin + pos, '\n', size_t(size - pos));
                end = found ? static_cast<const char*>(found) - begin : -1;
            }
            if (end < 0) {
                m_partial.append(begin + pos, size - pos);
                splitOverlong(sink);
                return;
            }
            if (m_partial.isEmpty()) {
                deliver(QByteArrayView(begin + pos, end - pos), true, sink);
            } else {
                m_partial.append(begin + pos, end - pos);
                const QByteArray line = std::move(m_partial);
                m_partial = QByteArray();
                deliver(line, true, sink);
            }
            pos = end + 1;
            if (scanned)
                break;
        }
        if (!scanned || pos >= size)
            return;
    }

    // Whole lines of the scanned chunk, 64 bytes of marks at a time. A line
    // without any mark (no byte >= 0x80, no candidate) is ASCII, holds no error
    // word and no in-use wording: it goes out at once. Others take facts().
    const LineClassifier::Marks* marks = scanned->marks();
    const qsizetype lastWord = (size - 1) >> 6;
    bool marked = false; // marks between pos and the current block
    for (qsizetype word = pos >> 6; word <= lastWord; ++word) {
        const qsizetype base = word << 6;
        const LineClassifier::Marks& m = marks[word];
        quint64 newlines = m.newlines;
        quint64 special = m.nonAscii | m.errorCandidates | m.portCandidates;
        if (base < pos) {
            const quint64 from = ~quint64(0) << (pos - base);
            newlines &= from;
            special &= from;
        }
        if (size - base < 64) {
            const quint64 below = (quint64(1) << (size - base)) - 1;
            newlines &= below;
            special &= below;
        }
        while (newlines) {
            const quint64 bit = newlines & (0 - newlines);
            const qsizetype end = base + __builtin_ctzll(newlines);
            if (!marked && !(special & (bit - 1)) && end - pos <= maxLineBytes) {
                const qsizetype length = end - pos - (end > pos && begin[end - 1] == '\r' ? 1 : 0);
                sink(QByteArrayView(begin + pos, length), true, &cleanLine);
            } else if (end - pos <= maxLineBytes) {
                const LineClassifier::Facts facts = scanned->facts(pos, end);
                if (facts.ascii) {
                    // A trailing '\r' is a non-word byte outside both wordings: the
                    // facts of [pos, end) hold for the line without it.
                    const LineHints hints { facts.error, facts.mayMentionPort };
                    const qsizetype length = end - pos - (end > pos && begin[end - 1] == '\r' ? 1 : 0);
                    sink(QByteArrayView(begin + pos, length), true, &hints);
                } else {
                    deliver(QByteArrayView(begin + pos, end - pos), true, sink);
                }
            } else {
                deliver(QByteArrayView(begin + pos, end - pos), true, sink);
            }
            special &= ~(bit | (bit - 1));
            marked = false;
            pos = end + 1;
            newlines &= newlines - 1;
        }
        marked = marked || special != 0;
    }
    if (pos < size) {
        m_partial.append(begin + pos, size - pos);
        splitOverlong(sink);
    }
}

template <typename Sink> void LineAssembler::finish(Sink&& sink)
{
    if (m_partial.isEmpty())
        return;
    const QByteArray line = std::move(m_partial);
    m_partial = QByteArray();
    deliver(line, false, sink);
}

template <typename Sink> void LineAssembler::splitOverlong(Sink& sink)
{
    if (m_partial.size() <= maxLineBytes)
        return;
    qsizetype consumed = 0;
    while (m_partial.size() - consumed > maxLineBytes) {
        const QByteArrayView rest = QByteArrayView(m_partial).sliced(consumed);
        const qsizetype cut = cutPosition(rest, maxLineBytes);
        deliver(rest.first(cut), false, sink);
        consumed += cut;
    }
    m_partial.remove(0, consumed);
}

template <typename Sink> void LineAssembler::deliver(QByteArrayView line, bool complete, Sink& sink)
{
    while (line.size() > maxLineBytes) {
        const qsizetype cut = cutPosition(line, maxLineBytes);
        deliver(line.first(cut), false, sink);
        line = line.sliced(cut);
    }
    if (complete && line.endsWith('\r'))
        line.chop(1);
    if (ErrorPattern::isAscii(line)) {
        sink(line, true, static_cast<const LineHints*>(nullptr));
        return;
    }
    // Decoding replaces every invalid sequence with U+FFFD; valid text comes back unchanged.
    m_repaired = QString::fromUtf8(line).toUtf8();
    sink(QByteArrayView(m_repaired), false, static_cast<const LineHints*>(nullptr));
}

} // namespace Wardlamp
