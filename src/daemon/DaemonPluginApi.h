#pragma once

#include "agent/RemoteReply.h"

#include <QStringList>

#include <functional>
#include <memory>

class QProcessEnvironment;
class QSettings;

namespace Wardlamp {

class Notifier;
class ServerManager;
class ServerStore;

// Remote access as wardlampd runs it (built by the remote plugin).
class RemoteAccess {
public:
    virtual ~RemoteAccess() = default;
    // Subscribes the agent and connects (after the autostart servers started).
    virtual void start(ServerStore& store, ServerManager& manager) = 0;
    // Runs `pair …` or `remote …` (the verb first) on the running pairing
    // store: the change takes effect at once.
    virtual RemoteReply runCommand(const QStringList& words, const RemoteInputs& inputs) = 0;
    // The computer's name as paired devices see it.
    virtual QString computerName() const = 0;
};

// What a plugin library of wardlampd offers. wardlampd itself holds only what
// every run needs; the parts that bring large libraries with them are built
// as plugins beside it and loaded only when a run needs them:
//   wardlampd-remote.so  remote access and the `pair`/`remote` commands
//                        (Qt Network and WebSockets, OpenSSL, the keyring)
//   wardlampd-notify.so  desktop notifications (Qt D-Bus), when a session bus is there
// A plugin resolves the supervision classes it uses (ServerManager, ...)
// against wardlampd's own, which exports them: there is one of each.
//
// Each plugin exports `wardlampdPlugin` (C linkage) returning this table;
// entries a plugin does not offer are null. Plugins and wardlampd are built
// together: `version` only catches a stale plugin file.
struct DaemonPluginApi {
    static constexpr int currentVersion = 2;
    using Say = std::function<void(const QString& line)>;

    int version = currentVersion;

    // Runs `pair …` or `remote …` (the verb first) on the saved settings and
    // secrets, while no supervisor runs.
    RemoteReply (*runRemoteCommand)(const QStringList& words, const RemoteInputs& inputs, QSettings& settings,
        const QProcessEnvironment& environment, bool sessionBus)
        = nullptr;
    // Remote access for a run; writes its state lines through `say`.
    std::unique_ptr<RemoteAccess> (*createRemoteAccess)(
        QSettings& settings, const QProcessEnvironment& environment, bool sessionBus, Say say)
        = nullptr;
    // Notifications on the session bus.
    std::unique_ptr<Notifier> (*createNotifier)() = nullptr;
};

} // namespace Wardlamp

extern "C" {
// The entry point of every wardlampd plugin.
Q_DECL_EXPORT const Wardlamp::DaemonPluginApi* wardlampdPlugin();
}
