#include "ChangeBatch.h"

namespace Wardlamp::Detail {

ChangeBatch::Server& ChangeBatch::server(const QUuid& id)
{
    const auto [it, inserted] = m_servers.try_emplace(id);
    if (inserted)
        m_order.append(id);
    return it->second;
}

void ChangeBatch::clearLog(const QUuid& id)
{
    Server& change = server(id);
    change.stateChanged = true;
    change.cleared = true;
    change.count = 0;
}

QDateTime ChangeBatch::date()
{
    if (!m_date)
        m_date = QDateTime::currentDateTime();
    return *m_date;
}

qint64 ChangeBatch::msecs()
{
    if (!m_msecs)
        m_msecs = date().toMSecsSinceEpoch();
    return *m_msecs;
}

void ChangeBatch::lineAppended(Server& change, quint64 seq, QByteArrayView text, bool isError)
{
    change.stateChanged = true;
    if (change.count++ == 0)
        change.firstSeq = seq;
    const CapturedLine& line = change.statusLines.emplace_back(CapturedLine { seq, text, isError });
    change.runs.push_back(CapturedLines::Run { seq, 1, nullptr, &line }); // a deque's elements stay where they are
}

void ChangeBatch::outputAppended(Server& change, const RawLine* lines, std::size_t count, quint64 firstSeq)
{
    if (count == 0)
        return;
    change.stateChanged = true;
    if (change.count == 0)
        change.firstSeq = firstSeq;
    change.count += int(count);
    change.runs.push_back(CapturedLines::Run { firstSeq, count, lines, nullptr });
}

} // namespace Wardlamp::Detail
