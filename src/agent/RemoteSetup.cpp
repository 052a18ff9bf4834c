#include "RemoteSetup.h"

#include "PairingStore.h"
#include "RelayEndpoint.h"
#include "RemoteAgent.h"
#include "RemoteCommand.h"
#include "platform/FileSecretStore.h"
#include "platform/SecretStores.h"

#include <QFileInfo>
#include <QProcessEnvironment>
#include <QSettings>

namespace Wardlamp {

using namespace Qt::StringLiterals;

std::unique_ptr<SecretStore> RemoteSetup::openSecretStore(bool sessionBus)
{
    if (!sessionBus)
        return std::make_unique<FileSecretStore>(FileSecretStore::defaultPath());
    return SecretStores::open();
}

RemoteSetup::RemoteSetup(QSettings& settings, const QProcessEnvironment& environment, bool sessionBus)
    : m_settings(settings)
    , m_environment(environment)
    , m_secrets(openSecretStore(sessionBus))
    , m_pairing(std::make_unique<PairingStore>(settings, environment, *m_secrets))
    , m_agent(std::make_unique<RemoteAgent>(RelayEndpoint::resolve(environment, settings), [&settings] {
        RemoteAgent::Options options;
        // Beside the settings, so that a replayed command stays refused after a restart.
        options.replayMemoryFile = QFileInfo(settings.fileName()).absolutePath() + u"/remote-replay-memory"_s;
        return options;
    }()))
{
    // The snapshot carries the computer's name: a new one reaches paired devices at once.
    QObject::connect(m_pairing.get(), &PairingStore::macNameChanged, m_agent.get(), &RemoteAgent::schedulePush);
}

RemoteReply RemoteSetup::runCommand(const RemoteRequest& request)
{
    const std::optional<QUrl> relayBefore = RelayEndpoint::resolve(m_environment, m_settings);
    RemoteReply reply
        = RemoteCommand::run(request.words, request.inputs, *m_pairing, m_settings, m_environment, *m_secrets, true);
    const std::optional<QUrl> relayAfter = RelayEndpoint::resolve(m_environment, m_settings);
    if (relayAfter != relayBefore)
        m_agent->setRelayUrl(relayAfter);
    return reply;
}

RemoteSetup::~RemoteSetup() = default;

void RemoteSetup::start(ServerStore& store, ServerManager& manager)
{
    m_agent->configure(store, manager, *m_pairing);
}

} // namespace Wardlamp
