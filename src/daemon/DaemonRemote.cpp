#include "DaemonRemote.h"

#include "agent/PairingStore.h"
#include "agent/RemoteAgent.h"
#include "agent/RemoteSetup.h"
#include "platform/SecretStore.h"

#include <QProcessEnvironment>
#include <QSettings>

namespace Wardlamp {

using namespace Qt::StringLiterals;

std::unique_ptr<SecretStore> DaemonRemote::openSecretStore(bool sessionBus)
{
    return RemoteSetup::openSecretStore(sessionBus);
}

DaemonRemote::DaemonRemote(
    QSettings& settings, const QProcessEnvironment& environment, bool sessionBus, Say say, QObject* parent)
    : QObject(parent)
    , m_say(std::move(say))
    , m_setup(std::make_unique<RemoteSetup>(settings, environment, sessionBus))
{
    connect(&agent(), &RemoteAgent::stateChanged, this, &DaemonRemote::handleStateChanged);
    // Switched on later (`wardlampd remote enable`): say where it connects then.
    connect(&pairing(), &PairingStore::enabledChanged, this, [this](bool enabled) {
        if (enabled)
            sayWhereItConnects();
    });
}

DaemonRemote::~DaemonRemote() = default;

RemoteAgent& DaemonRemote::agent()
{
    return m_setup->agent();
}

PairingStore& DaemonRemote::pairing()
{
    return m_setup->pairing();
}

void DaemonRemote::sayWhereItConnects()
{
    const auto relay = agent().relayUrl();
    m_say(u"remote access on as \""_s + pairing().macName() + u"\" through "_s
        + (relay ? relay->toString() : u"(no relay address)"_s) + u"; secrets in "_s + m_setup->secrets().describe()
        + u"; `wardlampd pair` shows the pairing key"_s);
}

void DaemonRemote::start(ServerStore& store, ServerManager& manager)
{
    // Made for a `pair` or `remote` verb while remote access is off: nothing to say yet.
    if (pairing().isEnabled())
        sayWhereItConnects();
    m_setup->start(store, manager);
}

RemoteReply DaemonRemote::runCommand(const QStringList& words, const RemoteInputs& inputs)
{
    return m_setup->runCommand({ words, inputs });
}

QString DaemonRemote::computerName() const
{
    return m_setup->pairing().macName();
}

void DaemonRemote::handleStateChanged(const ConnectionState& state)
{
    m_say(u"remote access: "_s + state.describe());
}

} // namespace Wardlamp
