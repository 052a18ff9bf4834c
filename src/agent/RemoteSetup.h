#pragma once

#include "agent/RemoteReply.h"

#include <QProcessEnvironment>

#include <memory>

class QSettings;

namespace Wardlamp {

class PairingStore;
class RemoteAgent;
class SecretStore;
class ServerManager;
class ServerStore;

// The remote half of the object graph, built the same way by the desktop app
// and by wardlampd's remote plugin: the secret store (the Secret Service when
// it answers, else the user-only file), the pairing store on it, and the
// remote agent on the configured relay. start() links the agent to the
// supervisor; until then it does nothing.
//
// runCommand() runs `pair …` and `remote …` on its one pairing store, as
// the control socket's verbs of a running supervisor: a new key, password,
// switch, name or relay takes effect at once (the agent reconnects and
// reseals; a device holding the old key or password gets nothing more).
//
// Main thread; the settings must outlive it, the store and manager too once
// started. Construction may wait for the Secret Service, boundedly (see
// SecretStores): build it after the first window or icon is up.
class RemoteSetup {
public:
    // Without a session bus the keyring is not even asked.
    static std::unique_ptr<SecretStore> openSecretStore(bool sessionBus);

    RemoteSetup(QSettings& settings, const QProcessEnvironment& environment, bool sessionBus);
    ~RemoteSetup();
    RemoteSetup(const RemoteSetup&) = delete;
    RemoteSetup& operator=(const RemoteSetup&) = delete;

    // Subscribes the agent to the servers and the pairing settings, and
    // connects when remote access is on. Once.
    void start(ServerStore& store, ServerManager& manager);

    RemoteReply runCommand(const RemoteRequest& request);

    SecretStore& secrets() { return *m_secrets; }
    PairingStore& pairing() { return *m_pairing; }
    RemoteAgent& agent() { return *m_agent; }

private:
    QSettings& m_settings;
    const QProcessEnvironment m_environment;
    std::unique_ptr<SecretStore> m_secrets;
    std::unique_ptr<PairingStore> m_pairing;
    std::unique_ptr<RemoteAgent> m_agent;
};

} // namespace Wardlamp
