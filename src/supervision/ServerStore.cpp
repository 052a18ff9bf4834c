#include "ServerStore.h"

#include "supervision/StandardError.h"

#include <QHash>
#include <QLoggingCategory>
#include <QProcessEnvironment>
#include <QSettings>

#include <algorithm>
#include <utility>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {
Q_LOGGING_CATEGORY(lcStore, "wardlamp.supervision")
}

ServerStore::ServerStore(QSettings& settings, const QProcessEnvironment& environment, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
{
    if (environment.contains(seedVariable)) {
        // An invalid seed is ignored on purpose: the persisted list takes over.
        if (auto seeded = ServerConfig::decodeList(environment.value(seedVariable).toUtf8())) {
            m_servers = std::move(*seeded);
            m_ephemeral = true;
            return;
        }
    }
    loadPersisted();
}

void ServerStore::loadPersisted()
{
    const QVariant stored = m_settings.value(settingsKey);
    if (!stored.isValid())
        return;
    auto servers = ServerConfig::decodeList(stored.toByteArray());
    if (!servers) {
        keepUnreadable(stored, servers.error());
        return;
    }
    m_servers = std::move(*servers);
}

void ServerStore::keepUnreadable(const QVariant& stored, const QString& problem)
{
    // Never overwrite an earlier copy that differs: each unreadable blob is
    // somebody's server list.
    QString key = unreadableKey;
    for (int n = 2; m_settings.contains(key) && m_settings.value(key) != stored; ++n)
        key = unreadableKey + u'.' + QString::number(n);
    m_settings.setValue(key, stored);
    m_settings.sync();
    const bool kept = m_settings.status() == QSettings::NoError;
    const QString line = u"Wardlamp: the stored server list (\""_s + settingsKey + u"\") cannot be read ("_s + problem
        + (kept ? u"); a copy is kept under \""_s + key + u"\" and the list starts empty\n"_s
                : u"); keeping a copy under \""_s + key + u"\" failed, the list starts empty\n"_s);
    writeToStandardError(line.toUtf8());
}

std::optional<ServerConfig> ServerStore::server(const QUuid& id) const
{
    for (const ServerConfig& server : m_servers) {
        if (server.id == id)
            return server;
    }
    return std::nullopt;
}

void ServerStore::setServers(QList<ServerConfig> servers)
{
    const bool changed = servers != m_servers;
    QList<ServerConfig> before = std::exchange(m_servers, std::move(servers));
    save();
    if (changed)
        announce(before);
}

void ServerStore::announce(const QList<ServerConfig>& before)
{
    // Every id once, at its first record, with all its records in list order.
    struct Ids {
        QList<QUuid> order;
        QHash<QUuid, QList<ServerConfig>> records;
    };
    const auto collect = [](const QList<ServerConfig>& list) {
        Ids ids;
        for (const ServerConfig& server : list) {
            auto it = ids.records.find(server.id);
            if (it == ids.records.end()) {
                ids.order.append(server.id);
                it = ids.records.insert(server.id, {});
            }
            it->append(server);
        }
        return ids;
    };
    const Ids old = collect(before);
    const Ids now = collect(m_servers);

    // Worked out in full before the first signal: a slot may change the list.
    QList<QUuid> gone;
    QList<QUuid> keptInOldOrder;
    for (const QUuid& id : old.order)
        (now.records.contains(id) ? keptInOldOrder : gone).append(id);
    QList<QUuid> keptInNewOrder;
    QList<QUuid> changed;
    QList<QUuid> fresh;
    for (const QUuid& id : now.order) {
        const auto it = old.records.constFind(id);
        if (it == old.records.cend()) {
            fresh.append(id);
            continue;
        }
        keptInNewOrder.append(id);
        if (*it != now.records.value(id))
            changed.append(id);
    }

    for (const QUuid& id : std::as_const(gone))
        Q_EMIT removed(id);
    if (keptInOldOrder != keptInNewOrder)
        Q_EMIT reordered();
    for (const QUuid& id : std::as_const(changed))
        Q_EMIT updated(id);
    for (const QUuid& id : std::as_const(fresh))
        Q_EMIT added(id);
    Q_EMIT serversChanged();
}

void ServerStore::add(const ServerConfig& server)
{
    QList<ServerConfig> servers = m_servers;
    servers.append(server);
    setServers(std::move(servers));
}

void ServerStore::remove(const QUuid& id)
{
    QList<ServerConfig> servers = m_servers;
    servers.removeIf([&](const ServerConfig& server) { return server.id == id; });
    setServers(std::move(servers));
}

void ServerStore::update(const ServerConfig& server)
{
    QList<ServerConfig> servers = m_servers;
    const auto it
        = std::find_if(servers.begin(), servers.end(), [&](const ServerConfig& s) { return s.id == server.id; });
    if (it == servers.end()) {
        qCWarning(lcStore) << "update of a server that is not in the list:" << uuidText(server.id);
        return;
    }
    *it = server;
    setServers(std::move(servers));
}

void ServerStore::save()
{
    if (m_ephemeral)
        return;
    m_settings.setValue(settingsKey, ServerConfig::encodeList(m_servers));
    m_settings.sync();
    if (m_settings.status() != QSettings::NoError)
        qCWarning(lcStore) << "the server list could not be written to" << m_settings.fileName();
}

} // namespace Wardlamp
