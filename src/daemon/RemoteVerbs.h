#pragma once

#include "agent/RemoteReply.h"
#include "daemon/DaemonPlugin.h"

#include <QObject>
#include <QPointer>
#include <QProcessEnvironment>

#include <functional>
#include <memory>
#include <optional>

class QSettings;

namespace Wardlamp {

class ControlVerbs;
class RemoteAccess;
class ServerManager;
class ServerStore;

// Remote access in a running wardlampd and the `pair` and `remote` verbs of
// its control socket. The remote plugin (network, crypto, keyring) is loaded
// only when a run needs it: at the start when remote access is switched on,
// else at the first of these verbs, so that `wardlampd remote enable` turns
// remote access on in a daemon that started without it. The verbs run on the
// daemon's one pairing store: a new key, password or switch takes effect at
// once (the agent reconnects and reseals).
//
// With no supervisor running, runLocally() runs the same commands on the
// saved settings. Main thread.
class RemoteVerbs : public QObject {
    Q_OBJECT

public:
    using Say = std::function<void(const QString& line)>;

    RemoteVerbs(ControlVerbs& verbs, QSettings& settings, QProcessEnvironment environment, bool sessionBus, Say say,
        QObject* parent = nullptr);
    ~RemoteVerbs() override;

    // Loads the plugin unless it is loaded; the reason when it cannot be.
    std::optional<QString> loadPlugin();
    // The servers remote access works on; starts it when the plugin is loaded.
    void start(ServerStore& store, ServerManager& manager);
    // The computer's name as paired devices see it.
    QString computerName() const;

    // `words`: the verb first. Exit status 3 when the plugin cannot be loaded.
    static RemoteReply runLocally(const QStringList& words, const RemoteInputs& inputs, QSettings& settings,
        const QProcessEnvironment& environment, bool sessionBus);

private:
    RemoteReply run(const QJsonObject& args);

    QSettings& m_settings;
    const QProcessEnvironment m_environment;
    const bool m_sessionBus;
    Say m_say;
    std::optional<DaemonPlugin> m_plugin;
    std::unique_ptr<RemoteAccess> m_access;
    QPointer<ServerStore> m_store;
    QPointer<ServerManager> m_manager;
};

} // namespace Wardlamp
