#pragma once

#include "LineBatch.h"

#include <QByteArray>
#include <QDateTime>
#include <QHashFunctions>
#include <QList>
#include <QUuid>

#include <deque>
#include <optional>
#include <unordered_map>
#include <vector>

namespace Wardlamp::Detail {

// The changes made to servers while one outermost ServerManager operation
// runs, which the manager announces together when it ends: per server (in the
// order they were first touched) whether its runtime state changed, whether
// its log was emptied, the lines appended since (first number and count), and
// every line appended (for linesCaptured). Every line of a batch has the same
// date. Main thread; one per outermost operation.
class ChangeBatch {
public:
    struct Server {
        bool stateChanged = false;
        bool cleared = false;
        quint64 firstSeq = 0; // of the lines appended since the last clear in this batch
        int count = 0;
        // What linesCaptured hands out: runs over the output thread's table of
        // lines (valid until the batch is announced) and over `statusLines`.
        std::vector<CapturedLines::Run> runs;
        std::deque<CapturedLine> statusLines;
        std::deque<QByteArray> ownedTexts; // texts of status lines

        CapturedLines lines() const { return CapturedLines(runs); }
    };

    // Stays where it is for the life of the batch (runs point into it).
    Server& server(const QUuid& id);
    const QList<QUuid>& order() const { return m_order; }

    // The state of the id changed.
    void touch(const QUuid& id) { server(id).stateChanged = true; }
    // The id's log was emptied: lines appended before it in this batch are
    // announced only through linesCaptured.
    void clearLog(const QUuid& id);
    // Counts one appended status line and keeps it for linesCaptured; `text`
    // must live as long as the batch.
    static void lineAppended(Server& change, quint64 seq, QByteArrayView text, bool isError);
    // Counts `count` output lines numbered from `firstSeq`, appended in that
    // order, and keeps a run over them for linesCaptured: the table must live
    // until the batch is announced. Nothing when `count` is 0.
    static void outputAppended(Server& change, const RawLine* lines, std::size_t count, quint64 firstSeq);

    // The date of every line of the batch, taken when first asked for.
    QDateTime date();
    qint64 msecs(); // date() in ms since 1970
    // The date, if a line took one.
    QDateTime dateIfTaken() const { return m_date.value_or(QDateTime()); }

private:
    QList<QUuid> m_order;
    struct UuidHash {
        std::size_t operator()(const QUuid& id) const { return qHash(id); }
    };
    std::unordered_map<QUuid, Server, UuidHash> m_servers; // nodes: a server's record never moves
    std::optional<QDateTime> m_date;
    std::optional<qint64> m_msecs;
};

} // namespace Wardlamp::Detail
