#include "RestartCounter.h"

#include "supervision/ServerManager.h"

#include <algorithm>

namespace Wardlamp {

RestartCounter::RestartCounter(ServerManager& manager, QObject* parent)
    : QObject(parent)
    , m_manager(manager)
{
    connect(&m_manager, &ServerManager::stateChanged, this, &RestartCounter::handleStateChanged);
}

int RestartCounter::restarts(const QUuid& id) const
{
    return std::max(0, m_starts.value(id) - 1);
}

void RestartCounter::handleStateChanged(const QUuid& id)
{
    const std::optional<QDateTime>& startedAt = m_manager.state(id).startedAt;
    if (!startedAt)
        return;
    const auto last = m_lastStart.constFind(id);
    if (last != m_lastStart.cend() && *last == *startedAt)
        return;
    m_lastStart.insert(id, *startedAt);
    ++m_starts[id];
}

} // namespace Wardlamp
