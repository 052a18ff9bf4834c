#include "PanelCommands.h"

#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "ui/logic/ServerRowPresentation.h"
#include "ui/logic/TunnelLink.h"

#include <QDesktopServices>

namespace Wardlamp {

PanelCommands::PanelCommands(ServerStore& store, ServerManager& manager, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_manager(manager)
{
}

void PanelCommands::toggle(const QUuid& id)
{
    const std::optional<ServerConfig> server = m_store.server(id);
    if (!server)
        return;
    switch (ServerRowPresentation::actionFor(m_manager.state(id).status)) {
    case ServerAction::stop:
        m_manager.stop(*server);
        break;
    case ServerAction::start:
        m_manager.start(*server);
        break;
    }
}

void PanelCommands::openTunnel(const QUuid& id)
{
    const std::optional<ServerConfig> server = m_store.server(id);
    if (!server)
        return;
    if (const std::optional<TunnelLink> link = TunnelLink::of(*server))
        QDesktopServices::openUrl(link->url);
}

} // namespace Wardlamp
