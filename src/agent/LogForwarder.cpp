#include "LogForwarder.h"

#include "supervision/LineBatch.h"
#include "supervision/LogRing.h"

namespace Wardlamp {

void LogForwarder::reset()
{
    m_cursors.clear();
    m_pending.clear();
}

std::optional<quint64> LogForwarder::cursor(const QUuid& id) const
{
    const auto found = m_cursors.constFind(id);
    if (found == m_cursors.cend())
        return std::nullopt;
    return *found;
}

void LogForwarder::advance(const QUuid& id, quint64 seq)
{
    quint64& current = m_cursors[id];
    current = std::max(current, seq);
}

qsizetype LogForwarder::wireCost(const LogLine& line)
{
    // Text (ASCII as the common case) plus the record's id, time and keys, then
    // base64 of the sealed bytes.
    constexpr qsizetype recordBytes = 110;
    return (line.text.size() + recordBytes) * 4 / 3;
}

void LogForwarder::trim(Pending& pending)
{
    qsizetype drop = 0;
    qsizetype bytes = pending.textBytes;
    const qsizetype count = pending.lines.size();
    while (drop < count && (count - drop > maxPendingLines || bytes > maxPendingTextBytes))
        bytes -= pending.lines.at(drop++).text.size() * qsizetype(sizeof(QChar));
    if (drop == 0)
        return;
    pending.lines.remove(0, drop);
    pending.textBytes = bytes;
}

void LogForwarder::capture(const QUuid& id, const LineBatch& batch, const LogRing& ring)
{
    if (batch.lines.empty())
        return;
    Pending& held = m_pending[id];
    QList<LogLine>& pending = held.lines;
    const qsizetype countBefore = pending.size();
    const quint64 firstInRing = ring.firstSeq();
    std::optional<LogLineIds> ids;
    for (const CapturedLine& captured : batch.lines) {
        if (!ring.isEmpty() && captured.seq >= firstInRing) {
            // Still in the log: take the line from there. The log is
            // contiguous since its last clear.
            const quint64 offset = captured.seq - firstInRing;
            if (offset < quint64(ring.size()) && ring.seqAt(int(offset)) == captured.seq) {
                pending.append(ring.at(int(offset)));
                continue;
            }
            const int index = ring.indexAfterSeq(captured.seq - 1);
            if (index < ring.size() && ring.seqAt(index) == captured.seq) {
                pending.append(ring.at(index));
                continue;
            }
        }
        // Evicted within its own batch: the same id it would have had in the log.
        if (!ids)
            ids.emplace(id);
        pending.append(LogLine {
            ids->id(captured.seq), batch.date, QString::fromUtf8(captured.text), captured.isError, captured.seq });
    }
    for (qsizetype i = countBefore; i < pending.size(); ++i)
        held.textBytes += pending.at(i).text.size() * qsizetype(sizeof(QChar));
    trim(held);
}

QList<LogLine> LogForwarder::take(const QUuid& id, const LogRing& ring, qsizetype budget, bool* more)
{
    if (more)
        *more = false;
    const quint64 after = m_cursors.value(id, 0);
    const int ringStart = ring.indexAfterSeq(after);
    const bool ringHasNew = ringStart < ring.size();
    const quint64 firstRingNew = ringHasNew ? ring.at(ringStart).seq : 0;

    QList<LogLine> lines;
    qsizetype spent = 0;
    // Takes the line unless the budget is spent (the first line always goes, so
    // a line larger than any budget still moves on).
    auto fits = [&](const LogLine& line) {
        const qsizetype cost = wireCost(line);
        if (!lines.isEmpty() && cost > budget - spent)
            return false;
        spent += cost;
        return true;
    };
    // Captured lines the log no longer holds come first: they are older than
    // everything the log still has after the cursor.
    Pending pending = m_pending.take(id);
    qsizetype used = 0;
    bool full = false;
    for (; used < pending.lines.size(); ++used) {
        const LogLine& line = pending.lines.at(used);
        if (line.seq <= after)
            continue;
        if (ringHasNew && line.seq >= firstRingNew)
            break;
        if (!fits(line)) {
            full = true;
            break;
        }
        lines.append(line);
    }
    if (full) {
        // The rest waits for the next take, still ahead of the log's lines.
        for (qsizetype i = 0; i < used; ++i)
            pending.textBytes -= pending.lines.at(i).text.size() * qsizetype(sizeof(QChar));
        pending.lines.remove(0, used);
        m_pending.insert(id, std::move(pending));
    } else {
        for (int i = ringStart; i < ring.size(); ++i) {
            LogLine line = ring.at(i);
            if (!fits(line)) {
                full = true;
                break;
            }
            lines.append(std::move(line));
        }
    }
    if (more)
        *more = full;

    if (!lines.isEmpty())
        advance(id, lines.last().seq);
    else if (!ring.isEmpty())
        advance(id, ring.lastSeq());
    return lines;
}

void LogForwarder::passOver(const QUuid& id, const LogRing& ring)
{
    m_pending.remove(id);
    if (!ring.isEmpty())
        advance(id, ring.lastSeq());
}

void LogForwarder::markSentThrough(const QUuid& id, quint64 seq)
{
    advance(id, seq);
    auto found = m_pending.find(id);
    if (found == m_pending.end())
        return;
    found->lines.removeIf([seq](const LogLine& line) { return line.seq <= seq; });
    found->textBytes = 0;
    for (const LogLine& line : std::as_const(found->lines))
        found->textBytes += line.text.size() * qsizetype(sizeof(QChar));
    if (found->lines.isEmpty())
        m_pending.erase(found);
}

} // namespace Wardlamp
