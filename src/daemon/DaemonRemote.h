#pragma once

#include "daemon/DaemonPluginApi.h"

#include <QObject>

#include <functional>
#include <memory>

class QProcessEnvironment;
class QSettings;

namespace Wardlamp {

class PairingStore;
class RemoteAgent;
class SecretStore;
class ServerManager;
class ServerStore;
struct ConnectionState;

// Remote access for wardlampd: the pairing store on the user's secret store and
// the remote agent on the daemon's servers. Built only when remote access is on
// (settings or WL_REMOTE_ENABLED), so a daemon without it never touches the
// keyring. Writes one line per connection state change through `say`. Lives in
// the remote plugin (RemotePlugin.cpp). Main thread; lives as long as the run.
class DaemonRemote : public QObject, public RemoteAccess {
    Q_OBJECT

public:
    using Say = std::function<void(const QString& line)>;

    // The Secret Service when a session bus is there and it answers, else the
    // user-only file.
    static std::unique_ptr<SecretStore> openSecretStore(bool sessionBus);

    DaemonRemote(QSettings& settings, const QProcessEnvironment& environment, bool sessionBus, Say say,
        QObject* parent = nullptr);
    ~DaemonRemote() override;

    // Subscribes the agent and connects (after the autostart servers started).
    void start(ServerStore& store, ServerManager& manager) override;

    RemoteAgent& agent() { return *m_agent; }
    PairingStore& pairing() { return *m_pairing; }

private:
    void handleStateChanged(const ConnectionState& state);

    Say m_say;
    std::unique_ptr<SecretStore> m_secrets;
    std::unique_ptr<PairingStore> m_pairing;
    std::unique_ptr<RemoteAgent> m_agent;
};

} // namespace Wardlamp
