#include "LineLedger.h"

#include <algorithm>
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
    arrivedLate += other.arrivedLate;
    lost += other.lost;
    beyondBacklog += other.beyondBacklog;
    clearedAway += other.clearedAway;
    return *this;
}

QList<PrintedLine> LineLedger::take(const QList<WireLogLine>& lines, int epoch)
{
    QList<PrintedLine> shown;
    Tally& tally = m_byEpoch[epoch];
    if (lines.size() >= m_backlogLines) {
        // A backlog: what is older than its first line was never promised. It
        // is the run's first append since the controller came back, or one
        // that reaches back behind lines already shown; a long live append
        // later in the epoch is neither.
        if (const auto first = PrintedLine::parse(lines.first().text)) {
            Run& run = m_runs[first->server + u' ' + QString::number(first->pid)];
            const bool firstSinceBack = run.epochAtMax < epoch;
            const bool reachesBack = first->seq <= run.maxSeq;
            const auto start = run.backlogStarts.constFind(epoch);
            if ((firstSinceBack || reachesBack) && (start == run.backlogStarts.cend() || *start > first->seq))
                run.backlogStarts.insert(epoch, first->seq);
        }
    }
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
        const double date = wire.date.msSinceEpoch;
        run.dates.insert(line->seq, date);
        ++tally.shown;
        shown.append(*line);
        if (line->seq <= run.maxSeq) {
            // A backlog that came after live lines, when the controller had
            // just come back, fills the gap in front of them: shown after
            // every line dated no later than it, it takes its place unless
            // that includes the next line of its run already shown. Any
            // other line that comes late is out of order.
            const bool fillsGapSinceBack = std::any_of(run.gaps.cbegin(), run.gaps.cend(), [&](const Gap& gap) {
                return gap.away && gap.epoch == epoch && gap.from <= line->seq && line->seq <= gap.to;
            });
            const auto next = run.dates.upperBound(line->seq);
            if (fillsGapSinceBack && (next == run.dates.cend() || *next > date)) {
                ++tally.arrivedLate;
                continue;
            }
            ++tally.outOfOrder;
            if (m_traceLeft > 0 && m_traceLeft--)
                std::fprintf(stderr, "late: %s %lld seq %lld after %lld, line %lld of an append of %lld, epoch %d\n",
                    qPrintable(line->server), qlonglong(line->pid), qlonglong(line->seq), qlonglong(run.maxSeq),
                    qlonglong(i), qlonglong(lines.size()), epoch);
            continue;
        }
        if (line->seq > run.maxSeq + 1) {
            const bool away = epoch > run.epochAtMax;
            Gap gap { run.maxSeq + 1, line->seq - 1, epoch, Excuse::none, away };
            if (away && i == 0 && lines.size() >= m_backlogLines)
                gap.excuse = Excuse::beyondBacklog;
            else if (away && m_clears.value(line->server) > run.clearsAtMax)
                gap.excuse = Excuse::cleared;
            if (gap.excuse == Excuse::none && m_traceLeft > 0 && m_traceLeft--)
                std::fprintf(stderr,
                    "gap: %s %lld seq %lld..%lld before line %lld of an append of %lld, epoch %d (last shown in "
                    "epoch %d), clears %d (%d at the last shown)\n",
                    qPrintable(line->server), qlonglong(line->pid), qlonglong(gap.from), qlonglong(gap.to),
                    qlonglong(i), qlonglong(lines.size()), epoch, run.epochAtMax, m_clears.value(line->server),
                    run.clearsAtMax);
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
            qint64 older = 0; // missing and older than the epoch's backlog
            const qint64 backlogStart = gap.away ? run.backlogStarts.value(gap.epoch, -1) : -1;
            for (qint64 seq = gap.from; seq <= gap.to; ++seq) {
                if (!run.seen.contains(seq))
                    ++(seq < backlogStart ? older : missing);
            }
            Tally& tally = m_byEpoch[gap.epoch];
            switch (gap.excuse) {
            case Excuse::none:
                tally.lost += missing;
                tally.beyondBacklog += older;
                break;
            case Excuse::beyondBacklog:
                tally.beyondBacklog += missing + older;
                break;
            case Excuse::cleared:
                tally.clearedAway += missing + older;
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
