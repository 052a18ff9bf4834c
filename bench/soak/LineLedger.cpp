#include "LineLedger.h"

#include <cstdio>

namespace Wardlamp::Soak {

std::optional<PrintedLine> PrintedLine::parse(QStringView text)
{
    const QList<QStringView> words = text.split(u' ');
    if (words.size() != 4 && !(words.size() == 5 && words[4] == u"end"))
        return std::nullopt;
    PrintedLine line;
    bool ok[3] = {};
    line.server = words[0].toString();
    line.pid = words[1].toLongLong(&ok[0]);
    line.seq = words[2].toLongLong(&ok[1]);
    line.printedMs = words[3].toLongLong(&ok[2]);
    if (!ok[0] || !ok[1] || !ok[2] || line.seq < 0)
        return std::nullopt;
    return line;
}

LineLedger::Tally& LineLedger::Tally::operator+=(const Tally& other)
{
    shown += other.shown;
    resent += other.resent;
    duplicated += other.duplicated;
    outOfOrder += other.outOfOrder;
    lost += other.lost;
    beyondBacklog += other.beyondBacklog;
    clearedAway += other.clearedAway;
    return *this;
}

QList<PrintedLine> LineLedger::take(const QList<WireLogLine>& lines, int epoch)
{
    QList<PrintedLine> shown;
    Tally& tally = m_byEpoch[epoch];
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const WireLogLine& wire = lines[i];
        if (m_ids.contains(wire.id)) {
            ++tally.resent;
            continue;
        }
        m_ids.insert(wire.id);
        const auto line = PrintedLine::parse(wire.text);
        if (!line)
            continue; // the supervisor's own lines
        Run& run = m_runs[line->server + u' ' + QString::number(line->pid)];
        if (run.seen.contains(line->seq)) {
            ++tally.duplicated;
            continue;
        }
        run.seen.insert(line->seq);
        ++tally.shown;
        shown.append(*line);
        if (line->seq <= run.maxSeq) {
            ++tally.outOfOrder;
            if (m_traceLeft > 0 && m_traceLeft--)
                std::fprintf(stderr, "late: %s %lld seq %lld after %lld, line %lld of an append of %lld, epoch %d\n",
                    qPrintable(line->server), qlonglong(line->pid), qlonglong(line->seq), qlonglong(run.maxSeq),
                    qlonglong(i), qlonglong(lines.size()), epoch);
            continue;
        }
        if (line->seq > run.maxSeq + 1) {
            Gap gap { run.maxSeq + 1, line->seq - 1, epoch, Excuse::none };
            const bool away = epoch > run.epochAtMax;
            if (away && i == 0 && lines.size() >= m_backlogLines)
                gap.excuse = Excuse::beyondBacklog;
            else if (away && m_clears.value(line->server) > run.clearsAtMax)
                gap.excuse = Excuse::cleared;
            run.gaps.append(gap);
        }
        run.maxSeq = line->seq;
        run.epochAtMax = epoch;
        run.clearsAtMax = m_clears.value(line->server);
    }
    return shown;
}

void LineLedger::finish()
{
    for (const Run& run : std::as_const(m_runs)) {
        for (const Gap& gap : run.gaps) {
            qint64 missing = 0;
            for (qint64 seq = gap.from; seq <= gap.to; ++seq)
                missing += run.seen.contains(seq) ? 0 : 1;
            Tally& tally = m_byEpoch[gap.epoch];
            switch (gap.excuse) {
            case Excuse::none:
                tally.lost += missing;
                break;
            case Excuse::beyondBacklog:
                tally.beyondBacklog += missing;
                break;
            case Excuse::cleared:
                tally.clearedAway += missing;
                break;
            }
        }
    }
}

LineLedger::Tally LineLedger::total() const
{
    Tally sum;
    for (const Tally& tally : m_byEpoch)
        sum += tally;
    return sum;
}

} // namespace Wardlamp::Soak
