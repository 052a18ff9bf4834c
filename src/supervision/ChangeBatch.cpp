#include "ChangeBatch.h"

namespace Wardlamp::Detail {

ChangeBatch::Server& ChangeBatch::server(const QUuid& id)
{
    auto it = m_servers.find(id);
    if (it == m_servers.end()) {
        m_order.append(id);
        it = m_servers.insert(id, Server {});
    }
    return *it;
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

void ChangeBatch::useSpareTap(Server& change, std::vector<CapturedLine>& spare)
{
    if (change.tap.empty())
        change.tap.swap(spare); // keeps its pages: no fresh memory per batch
}

void ChangeBatch::recycleTaps(std::vector<CapturedLine>& spare)
{
    for (Server& change : m_servers) {
        if (change.tap.capacity() > spare.capacity() && change.tap.capacity() <= maxSpareTapLines) {
            change.tap.clear();
            spare.swap(change.tap);
        }
    }
}

} // namespace Wardlamp::Detail
