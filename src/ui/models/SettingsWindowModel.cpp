#include "SettingsWindowModel.h"

#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

SettingsWindowModel::SettingsWindowModel(ServerStore& store, ServerManager& manager, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_manager(manager)
{
    connect(&m_store, &ServerStore::removed, this, &SettingsWindowModel::handleServerListChange);
    connect(&m_store, &ServerStore::added, this, &SettingsWindowModel::handleServerListChange);
}

void SettingsWindowModel::select(const SettingsSelection& selection)
{
    if (selection == m_selection)
        return;
    m_selection = selection;
    Q_EMIT selectionChanged();
}

SettingsWindowModel::Detail SettingsWindowModel::detail() const
{
    switch (m_selection.kind) {
    case SettingsSelection::Kind::general:
        return Detail::general;
    case SettingsSelection::Kind::remote:
        return Detail::remote;
    case SettingsSelection::Kind::server:
        break;
    }
    return m_store.server(m_selection.id) ? Detail::editor : Detail::noServer;
}

QUuid SettingsWindowModel::addServer()
{
    ServerConfig server;
    server.id = QUuid::createUuid();
    server.name = u"New Server"_s;
    m_store.add(server);
    select(SettingsSelection::server(server.id));
    return server.id;
}

void SettingsWindowModel::removeSelected()
{
    if (m_selection.kind != SettingsSelection::Kind::server || !m_store.server(m_selection.id))
        return;
    const QUuid id = m_selection.id;
    stopIfRunning(id);
    m_store.remove(id);
    select(SettingsSelection::general());
}

void SettingsWindowModel::deleteServer(const QUuid& id)
{
    if (!m_store.server(id))
        return;
    stopIfRunning(id);
    m_store.remove(id);
}

void SettingsWindowModel::stopIfRunning(const QUuid& id)
{
    const std::optional<ServerConfig> server = m_store.server(id);
    if (server && m_manager.state(id).status == ServerStatus::running)
        m_manager.stop(*server);
}

void SettingsWindowModel::handleServerListChange(const QUuid& id)
{
    if (m_selection.kind == SettingsSelection::Kind::server && m_selection.id == id)
        Q_EMIT detailChanged();
}

} // namespace Wardlamp
