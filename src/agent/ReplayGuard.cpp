#include "ReplayGuard.h"

namespace Wardlamp {

ReplayGuard::ReplayGuard(int capacity)
    : m_capacity(std::max(capacity, 1))
{
}

bool ReplayGuard::accept(const QByteArray& nonce)
{
    if (m_seen.contains(nonce))
        return false;
    m_seen.insert(nonce);
    m_order.push_back(nonce);
    while (int(m_order.size()) > m_capacity) {
        m_seen.remove(m_order.front());
        m_order.pop_front();
    }
    return true;
}

void ReplayGuard::clear()
{
    m_seen.clear();
    m_order.clear();
}

} // namespace Wardlamp
