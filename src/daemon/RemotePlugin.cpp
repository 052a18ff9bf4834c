// The entry point of wardlampd-remote.so: remote access and the `pair` and
// `remote` commands, with the network, crypto and keyring libraries they need.

#include "agent/PairingStore.h"
#include "agent/RemoteCommand.h"
#include "daemon/DaemonPluginApi.h"
#include "daemon/DaemonRemote.h"
#include "platform/SecretStore.h"

#include <QProcessEnvironment>
#include <QSettings>

using namespace Wardlamp;

namespace {

RemoteReply runRemoteCommand(const QStringList& words, const RemoteInputs& inputs, QSettings& settings,
    const QProcessEnvironment& environment, bool sessionBus)
{
    const auto secrets = DaemonRemote::openSecretStore(sessionBus);
    PairingStore pairing(settings, environment, *secrets);
    return RemoteCommand::run(words, inputs, pairing, settings, environment, *secrets, false);
}

std::unique_ptr<RemoteAccess> createRemoteAccess(
    QSettings& settings, const QProcessEnvironment& environment, bool sessionBus, DaemonPluginApi::Say say)
{
    return std::make_unique<DaemonRemote>(settings, environment, sessionBus, std::move(say));
}

} // namespace

const DaemonPluginApi* wardlampdPlugin()
{
    static const DaemonPluginApi api = [] {
        DaemonPluginApi table;
        table.runRemoteCommand = &runRemoteCommand;
        table.createRemoteAccess = &createRemoteAccess;
        return table;
    }();
    return &api;
}
