#pragma once

#include "remotekit/WireLogLine.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QUuid>

#include <optional>

namespace Wardlamp::Soak {

// One line of a soak printer: "NAME PID SEQ MS" (and " end" on its last line).
struct PrintedLine {
    QString server;
    qint64 pid = 0;
    qint64 seq = 0;
    qint64 printedMs = 0;

    static std::optional<PrintedLine> parse(QStringView text);
};

// What one controller was shown, judged against what the agent promises.
//
// Lines are shown once by id (the agent resends lines it already sent after a
// reconnection, by design; a controller drops those by id), in the order of
// their dates, equal dates in their order of arrival, as the web controller
// shows them. A backlog may arrive after live lines newer than it (the relay
// hands a controller that has just joined whatever the agent sends before the
// agent has heard of the join): its lines take their place by date. Only such
// lines, filling the gap of a controller that has just come back, are excused
// for arriving late.
//
// Among the lines shown, each printer run (server and pid) must be a gapless,
// ordered, single sequence. Lines missing where the controller was away
// (`epoch` advanced: it reconnected) are no fault when they are older than the
// agent's backlog of that server's recent lines (the first line of a log
// append of at least `backlogLines`): what is older was never promised. A gap
// over a log cleared while the controller was away is no fault either.
// Everything else missing at the end is lost.
class LineLedger {
public:
    struct Tally {
        qint64 shown = 0;
        qint64 resent = 0; // same line id again: dropped, as every controller does
        qint64 duplicated = 0; // a printed line shown twice under two ids
        qint64 outOfOrder = 0; // shown after a later line of its run
        qint64 arrivedLate = 0; // a backlog's line after live ones, shown before them by date (no fault)
        qint64 lost = 0;
        qint64 beyondBacklog = 0; // missing, older than the backlog (no fault)
        qint64 clearedAway = 0; // missing, cleared while away (no fault)

        Tally& operator+=(const Tally& other);
    };

    explicit LineLedger(int backlogLines)
        : m_backlogLines(backlogLines)
    {
    }

    // One log append, as received, while in `epoch` (0 before the first
    // recovery). Returns the lines newly shown.
    QList<PrintedLine> take(const QList<WireLogLine>& lines, int epoch);
    // A clear of `server`'s log was sent.
    void noteClear(const QString& server) { ++m_clears[server]; }
    // Settles the gaps: call once, after the last append.
    void finish();

    // By the epoch in which the gap or the line appeared.
    const QHash<int, Tally>& byEpoch() const { return m_byEpoch; }
    Tally total() const;

private:
    enum class Excuse { none, beyondBacklog, cleared };
    struct Gap {
        qint64 from = 0;
        qint64 to = 0; // inclusive
        int epoch = 0;
        Excuse excuse = Excuse::none;
        bool away = false; // the controller reconnected since the line before it
    };
    struct Run {
        qint64 maxSeq = -1;
        int epochAtMax = -1;
        int clearsAtMax = 0;
        QSet<qint64> seen;
        QMap<qint64, double> dates; // of the lines shown, by sequence number
        QList<Gap> gaps;
        QHash<int, qint64> backlogStarts; // per epoch: the first line of a backlog
    };

    int m_backlogLines;
    int m_traceLeft = qEnvironmentVariableIntValue("WL_SOAK_TRACE");
    QSet<QUuid> m_ids;
    QHash<QString, Run> m_runs;
    QHash<QString, int> m_clears;
    QHash<int, Tally> m_byEpoch;
};

} // namespace Wardlamp::Soak
