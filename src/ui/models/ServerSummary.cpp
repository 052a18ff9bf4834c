#include "ServerSummary.h"

#include "supervision/ServerManager.h"

namespace Wardlamp {

ServerSummary::ServerSummary(ServerManager& manager, QObject* parent)
    : QObject(parent)
    , m_manager(manager)
{
    connect(&m_manager, &ServerManager::stateChanged, this, &ServerSummary::recount);
    recount();
}

void ServerSummary::recount()
{
    const int running = m_manager.runningCount();
    const bool anyError = m_manager.anyError();
    if (running == m_runningCount && anyError == m_anyError)
        return;
    m_runningCount = running;
    m_anyError = anyError;
    Q_EMIT changed();
}

} // namespace Wardlamp
