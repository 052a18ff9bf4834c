#pragma once

#include "supervision/ServerConfig.h"

#include <QList>
#include <QObject>

class QProcessEnvironment;
class QSettings;

namespace Wardlamp {

// Owns the ordered list of configured servers and keeps it in the settings as
// one opaque JSON blob under "wardlamp.servers", written through on every
// change. When WL_SEED_SERVERS holds a valid list the store is ephemeral: it
// starts from that list and never writes anything.
//
// A stored blob that cannot be decoded is copied under
// "wardlamp.servers.unreadable" when the store loads (so no later save can
// destroy it), one line on standard error says so, and the list starts empty.
//
// Main thread only. The settings object must outlive the store.
class ServerStore : public QObject {
    Q_OBJECT

public:
    static constexpr QLatin1StringView settingsKey { "wardlamp.servers" };
    static constexpr QLatin1StringView unreadableKey { "wardlamp.servers.unreadable" };
    static constexpr QLatin1StringView seedVariable { "WL_SEED_SERVERS" };

    ServerStore(QSettings& settings, const QProcessEnvironment& environment, QObject* parent = nullptr);

    const QList<ServerConfig>& servers() const { return m_servers; }
    // The record with this id, if any.
    std::optional<ServerConfig> server(const QUuid& id) const;
    bool isEphemeral() const { return m_ephemeral; }

    void setServers(QList<ServerConfig> servers);
    void add(const ServerConfig& server);
    // Removes every record with this id.
    void remove(const QUuid& id);
    // Replaces the first record with the same id in place; no such record, no change.
    void update(const ServerConfig& server);
    // Writes the list (a no-op when ephemeral). Every change already does this.
    void save();

Q_SIGNALS:
    void serversChanged();

private:
    void loadPersisted();
    void keepUnreadable(const QVariant& stored, const QString& problem);

    QSettings& m_settings;
    QList<ServerConfig> m_servers;
    bool m_ephemeral = false;
};

} // namespace Wardlamp
