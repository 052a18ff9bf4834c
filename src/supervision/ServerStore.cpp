#include "ServerStore.h"

#include "supervision/SettingsFileText.h"
#include "supervision/StandardError.h"

#include <QFile>
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
        // Two servers of one id make a seed invalid too.
        auto seeded = ServerConfig::decodeList(environment.value(seedVariable).toUtf8());
        if (seeded && !ServerConfig::duplicateIds(*seeded)) {
            m_servers = std::move(*seeded);
            m_ephemeral = true;
            return;
        }
    }
    loadPersisted();
}

void ServerStore::loadPersisted()
{
    QVariant stored = m_settings.value(settingsKey);
    if (!stored.isValid())
        return;
    // QSettings writes the list as a byte array; anything else was typed into
    // the file by hand, and QSettings has split and unquoted it.
    const QVariant parsed = stored;
    QString handWritten;
    if (stored.typeId() != QMetaType::QByteArray)
        stored = readHandWritten(stored, handWritten);
    Expected<QList<ServerConfig>, QString> servers = ServerConfig::decodeList(stored.toByteArray());
    if (!servers && parsed.typeId() == QMetaType::QString) {
        // Typed in QSettings' own quoting ("[{\"id\": …}]"): its reading is the list.
        if (auto quoted = ServerConfig::decodeList(parsed.toString().toUtf8())) {
            servers = std::move(*quoted);
            stored = parsed.toString().toUtf8();
            m_settings.setValue(settingsKey, stored);
        }
    }
    if (!servers) {
        keepUnreadable(stored, servers.error(), handWritten);
        return;
    }
    const QStringList dropped = ServerConfig::dropDuplicateIds(*servers);
    m_servers = std::move(*servers);
    if (!dropped.isEmpty()) {
        // The list as it was stays readable: the next save will not hold the
        // records dropped here.
        keepUnreadable(stored,
            u"two servers share an id: "_s + dropped.join(u"; "_s) + u"; the list keeps the first of each id"_s,
            handWritten, false);
    } else if (!handWritten.isEmpty()) {
        writeToStandardError(
            QString(u"Wardlamp: the stored server list (\""_s + settingsKey + u"\") "_s + handWritten + u'\n')
                .toUtf8());
    }
}

QVariant ServerStore::readHandWritten(const QVariant& parsed, QString& note)
{
    const QString file = m_settings.fileName();
    QFile settingsFile(file);
    const std::optional<QByteArray> bytes
        = settingsFile.open(QIODevice::ReadOnly) ? std::optional(settingsFile.readAll()) : std::nullopt;
    const std::optional<QByteArray> typed
        = bytes ? SettingsFileText::rawValue(*bytes, QString(settingsKey)) : std::nullopt;
    if (!typed) {
        note = u"was written by hand, and cannot be found in "_s + file + u" as typed"_s;
        return parsed;
    }
    // Before QSettings writes the file again (which drops comments and
    // layout), the file as it was is kept byte for byte.
    const Expected<QString, SettingsFileText::CopyFailure> copy = SettingsFileText::keepCopy(file, *bytes);
    note = u"was written by hand and is read as typed; "_s
        + (copy ? QString(u"the file as it was is kept as "_s + *copy)
                : QString(u"the file as it was could not be kept ("_s + copy.error().reason + u')'));
    // From now on the value is the typed text, and any write keeps it so.
    m_settings.setValue(settingsKey, *typed);
    return QVariant(*typed);
}

void ServerStore::keepUnreadable(
    const QVariant& stored, const QString& problem, const QString& handWritten, bool startsEmpty)
{
    // Never overwrite an earlier copy that differs: each unreadable blob is
    // somebody's server list.
    QString key = unreadableKey;
    for (int n = 2; m_settings.contains(key) && m_settings.value(key) != stored; ++n)
        key = unreadableKey + u'.' + QString::number(n);
    m_settings.setValue(key, stored);
    m_settings.sync();
    const bool kept = m_settings.status() == QSettings::NoError;
    QString line = u"Wardlamp: the stored server list (\""_s + settingsKey + u"\") "_s;
    if (!handWritten.isEmpty())
        line += handWritten + u"; it "_s;
    line += startsEmpty ? u"cannot be read ("_s : u"is not as it should be ("_s;
    line += problem + u"); "_s
        + (kept ? QString(u"a copy is kept under \""_s + key + u'"')
                : QString(u"keeping a copy under \""_s + key + u"\" failed"_s));
    if (startsEmpty)
        line += u" and the list starts empty"_s;
    writeToStandardError(QString(line + u'\n').toUtf8());
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
    m_lastSaveFailed = m_settings.status() != QSettings::NoError;
    if (m_lastSaveFailed)
        qCWarning(lcStore) << "the server list could not be written to" << m_settings.fileName();
}

} // namespace Wardlamp
