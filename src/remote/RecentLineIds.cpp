#include "RecentLineIds.h"

#include <algorithm>

namespace Wardlamp {

RecentLineIds::RecentLineIds(qsizetype capacity)
    : m_capacity(std::max<qsizetype>(capacity, 1))
{
}

bool RecentLineIds::insert(const QUuid& id)
{
    if (m_ids.contains(id))
        return false;
    if (m_ids.size() >= m_capacity) {
        m_ids.remove(m_order.front());
        m_order.pop_front();
    }
    m_ids.insert(id);
    m_order.push_back(id);
    return true;
}

} // namespace Wardlamp
