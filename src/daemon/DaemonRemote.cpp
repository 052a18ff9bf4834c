#include "DaemonRemote.h"

#include "agent/PairingStore.h"
#include "agent/RelayEndpoint.h"
#include "agent/RemoteAgent.h"
#include "platform/FileSecretStore.h"
#include "platform/SecretStores.h"

#include <QProcessEnvironment>
#include <QSettings>

namespace Wardlamp {

using namespace Qt::StringLiterals;

std::unique_ptr<SecretStore> DaemonRemote::openSecretStore(bool sessionBus)
{
    if (!sessionBus)
        return std::make_unique<FileSecretStore>(FileSecretStore::defaultPath());
    return SecretStores::open();
}

DaemonRemote::DaemonRemote(
    QSettings& settings, const QProcessEnvironment& environment, bool sessionBus, Say say, QObject* parent)
    : QObject(parent)
    , m_say(std::move(say))
    , m_secrets(openSecretStore(sessionBus))
    , m_pairing(std::make_unique<PairingStore>(settings, environment, *m_secrets))
    , m_agent(std::make_unique<RemoteAgent>(RelayEndpoint::resolve(environment, settings)))
{
    connect(m_agent.get(), &RemoteAgent::stateChanged, this, &DaemonRemote::handleStateChanged);
}

DaemonRemote::~DaemonRemote() = default;

void DaemonRemote::start(ServerStore& store, ServerManager& manager)
{
    const auto relay = m_agent->relayUrl();
    m_say(u"remote access on as \""_s + m_pairing->macName() + u"\" through "_s
        + (relay ? relay->toString() : u"(no relay address)"_s) + u"; secrets in "_s + m_secrets->describe()
        + u"; `wardlampd pair` shows the pairing key"_s);
    m_agent->configure(store, manager, *m_pairing);
}

void DaemonRemote::handleStateChanged(const ConnectionState& state)
{
    m_say(u"remote access: "_s + state.describe());
}

} // namespace Wardlamp
