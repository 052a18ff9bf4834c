#include "RemoteSetup.h"

#include "PairingStore.h"
#include "RelayEndpoint.h"
#include "RemoteAgent.h"
#include "platform/FileSecretStore.h"
#include "platform/SecretStores.h"

#include <QProcessEnvironment>
#include <QSettings>

namespace Wardlamp {

std::unique_ptr<SecretStore> RemoteSetup::openSecretStore(bool sessionBus)
{
    if (!sessionBus)
        return std::make_unique<FileSecretStore>(FileSecretStore::defaultPath());
    return SecretStores::open();
}

RemoteSetup::RemoteSetup(QSettings& settings, const QProcessEnvironment& environment, bool sessionBus)
    : m_secrets(openSecretStore(sessionBus))
    , m_pairing(std::make_unique<PairingStore>(settings, environment, *m_secrets))
    , m_agent(std::make_unique<RemoteAgent>(RelayEndpoint::resolve(environment, settings)))
{
}

RemoteSetup::~RemoteSetup() = default;

void RemoteSetup::start(ServerStore& store, ServerManager& manager)
{
    m_agent->configure(store, manager, *m_pairing);
}

} // namespace Wardlamp
