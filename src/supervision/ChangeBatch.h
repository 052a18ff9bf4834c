#pragma once

#include "LineBatch.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QUuid>

#include <deque>
#include <optional>
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
        std::vector<CapturedLine> tap;
        std::deque<QByteArray> ownedTexts; // texts of status lines, referenced by `tap`
    };

    // Captured-line records kept for reuse between batches (2 MiB: a megabyte
    // batch of 16-byte lines).
    static constexpr std::size_t maxSpareTapLines = 64 * 1024;

    Server& server(const QUuid& id);
    const QList<QUuid>& order() const { return m_order; }

    // The state of the id changed.
    void touch(const QUuid& id) { server(id).stateChanged = true; }
    // The id's log was emptied: lines appended before it in this batch are
    // announced only through linesCaptured.
    void clearLog(const QUuid& id);
    // Counts one appended line and keeps its record for linesCaptured.
    // (Inline: runs once per line of output.)
    static void lineAppended(Server& change, quint64 seq, QByteArrayView text, bool isError)
    {
        change.stateChanged = true;
        if (change.count++ == 0)
            change.firstSeq = seq;
        change.tap.push_back(CapturedLine { seq, text, isError });
    }

    // The date of every line of the batch, taken when first asked for.
    QDateTime date();
    qint64 msecs(); // date() in ms since 1970
    // The date, if a line took one.
    QDateTime dateIfTaken() const { return m_date.value_or(QDateTime()); }

    // The tap of `change`, which takes `spare`'s memory when it has none yet.
    static void useSpareTap(Server& change, std::vector<CapturedLine>& spare);
    // Keeps the largest tap buffer in `spare` for the next batch, but not one
    // a burst made: small batches would carry it on for the life of the manager.
    void recycleTaps(std::vector<CapturedLine>& spare);

private:
    QList<QUuid> m_order;
    QHash<QUuid, Server> m_servers;
    std::optional<QDateTime> m_date;
    std::optional<qint64> m_msecs;
};

} // namespace Wardlamp::Detail
