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
class RemoteSetup;
class SecretStore;
class ServerManager;
class ServerStore;
struct ConnectionState;

// Remote access for wardlampd: the remote half of the object graph (RemoteSetup,
// as the desktop app builds it) on the daemon's servers. Built only when remote access is on
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
    RemoteReply runCommand(const QStringList& words, const RemoteInputs& inputs) override;
    QString computerName() const override;

    RemoteAgent& agent();
    PairingStore& pairing();

private:
    void handleStateChanged(const ConnectionState& state);
    void sayWhereItConnects();

    Say m_say;
    std::unique_ptr<RemoteSetup> m_setup;
};

} // namespace Wardlamp
