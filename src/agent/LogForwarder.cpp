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

void LogForwarder::capture(const QUuid& id, const LineBatch& batch, const LogRing& ring)
{
    if (batch.lines.empty())
        return;
    QList<LogLine>& pending = m_pending[id];
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
    if (pending.size() > maxPendingLines)
        pending.remove(0, pending.size() - maxPendingLines);
}

QList<LogLine> LogForwarder::take(const QUuid& id, const LogRing& ring)
{
    const quint64 after = m_cursors.value(id, 0);
    const int ringStart = ring.indexAfterSeq(after);
    const bool ringHasNew = ringStart < ring.size();
    const quint64 firstRingNew = ringHasNew ? ring.at(ringStart).seq : 0;

    QList<LogLine> lines;
    // Captured lines the log no longer holds come first: they are older than
    // everything the log still has after the cursor.
    const QList<LogLine> pending = m_pending.take(id);
    for (const LogLine& line : pending) {
        if (line.seq <= after)
            continue;
        if (ringHasNew && line.seq >= firstRingNew)
            break;
        lines.append(line);
    }
    for (int i = ringStart; i < ring.size(); ++i)
        lines.append(ring.at(i));

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
    found->removeIf([seq](const LogLine& line) { return line.seq <= seq; });
    if (found->isEmpty())
        m_pending.erase(found);
}

} // namespace Wardlamp
