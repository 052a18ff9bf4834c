#pragma once

#include "supervision/LogLine.h"

#include <QHash>
#include <QList>
#include <QUuid>

#include <limits>
#include <optional>

namespace Wardlamp {

class LogRing;
struct LineBatch;

// Which log lines of each server a controller has already been given, by line
// sequence number, so that every new line is sent once and in order even when
// the log is held at its cap, cleared, or emptied by a start between two
// pushes (a line count cannot tell these apart).
//
// A cursor per server records the last sequence number accounted for (sent, or
// passed over while no controller was present); no cursor means "nothing yet":
// the whole log is new. While a controller is present the agent also hands
// every appended batch to capture(), which keeps the lines that the log may
// drop before the next push (evicted by the cap, or cleared); take() returns
// those first, then the log's lines after the cursor.
//
// Main thread; owned by the agent.
class LogForwarder {
public:
    // Lines captured per server between two pushes are bounded, in number and
    // in text; past either bound the oldest captured lines are forgotten.
    static constexpr int maxPendingLines = 50000;
    static constexpr qsizetype maxPendingTextBytes = 16 * 1024 * 1024;
    static constexpr qsizetype unlimited = std::numeric_limits<qsizetype>::max();

    // What a line costs on the wire, roughly: its text and record, sealed and
    // base64-encoded. Used to keep a push within the connection's send budget.
    static qsizetype wireCost(const LogLine& line);

    void reset();

    // A batch just appended to `ring` (the server's log after the batch).
    void capture(const QUuid& id, const LineBatch& batch, const LogRing& ring);

    // The lines after the cursor, in order, up to `budget` (by wireCost(); the
    // first line is always taken); moves the cursor past the lines returned.
    // `more` tells whether lines were left for a later take.
    QList<LogLine> take(const QUuid& id, const LogRing& ring, qsizetype budget = unlimited, bool* more = nullptr);
    // No controller: the current lines are passed over, not queued.
    void passOver(const QUuid& id, const LogRing& ring);
    // A backlog of the log's recent lines was sent: everything up to the log's
    // last line is accounted for.
    void markSentThrough(const QUuid& id, quint64 seq);

    std::optional<quint64> cursor(const QUuid& id) const;
    // Ids with captured lines waiting (they may have left the manager's states).
    QList<QUuid> pendingIds() const { return m_pending.keys(); }

private:
    void advance(const QUuid& id, quint64 seq);

    struct Pending {
        QList<LogLine> lines;
        qsizetype textBytes = 0;
    };
    void trim(Pending& pending);

    QHash<QUuid, quint64> m_cursors;
    QHash<QUuid, Pending> m_pending;
};

} // namespace Wardlamp
