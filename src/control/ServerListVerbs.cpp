#include "ServerListVerbs.h"

#include "control/ControlCall.h"
#include "control/ControlVerbs.h"
#include "control/ServerListEdits.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

bool directoryExists(const QString& directory)
{
    return QFileInfo(ServerListEdits::expandHome(directory, QDir::homePath())).isDir();
}

QJsonArray names(const QStringList& list)
{
    return QJsonArray::fromStringList(list);
}

} // namespace

ServerListVerbs::ServerListVerbs(ControlVerbs& verbs, ServerStore& store, ServerManager* manager, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_manager(manager)
{
    verbs.add(u"add"_s, [this](ControlCall& call) { add(call); });
    verbs.add(u"edit"_s, [this](ControlCall& call) { edit(call); });
    verbs.add(u"rm"_s, [this](ControlCall& call) { remove(call); });
    verbs.add(u"import"_s, [this](ControlCall& call) { import(call); });
    verbs.add(u"export"_s, [this](ControlCall& call) { exportList(call); });
}

QJsonObject ServerListVerbs::stored(QJsonObject result) const
{
    if (m_store.isEphemeral())
        result.insert(u"ephemeral"_s, true);
    else if (m_store.lastSaveFailed())
        result.insert(u"saved"_s, false);
    return result;
}

void ServerListVerbs::add(ControlCall& call)
{
    const auto outcome = ServerListEdits::add(m_store.servers(), call.args(), directoryExists);
    if (!outcome) {
        call.fail(outcome.error());
        return;
    }
    m_store.add(outcome->server);
    QJsonObject result { { u"server"_s, outcome->server.toJson() } };
    if (!outcome->warnings.isEmpty())
        result.insert(u"warnings"_s, names(outcome->warnings));
    call.reply(stored(result));
}

void ServerListVerbs::edit(ControlCall& call)
{
    const QList<ServerConfig> before = m_store.servers();
    const auto outcome = ServerListEdits::edit(before, call.args(), directoryExists);
    if (!outcome) {
        call.fail(outcome.error());
        return;
    }
    m_store.update(outcome->server);
    QJsonObject result { { u"server"_s, outcome->server.toJson() } };
    if (!outcome->warnings.isEmpty())
        result.insert(u"warnings"_s, names(outcome->warnings));
    // A running server goes on with what it was started with.
    const auto old = std::find_if(
        before.cbegin(), before.cend(), [&](const ServerConfig& s) { return s.id == outcome->server.id; });
    if (m_manager && old != before.cend() && m_manager->state(outcome->server.id).pid
        && (old->command != outcome->server.command || old->directory != outcome->server.directory))
        result.insert(u"running"_s, true);
    call.reply(stored(result));
}

void ServerListVerbs::remove(ControlCall& call)
{
    const auto outcome = ServerListEdits::remove(m_store.servers(), call.args());
    if (!outcome) {
        call.fail(outcome.error());
        return;
    }
    // As the settings window does it: a running server is stopped first.
    if (m_manager && m_manager->state(outcome->server.id).status == ServerStatus::running)
        m_manager->stop(outcome->server);
    m_store.remove(outcome->server.id);
    call.reply(stored({ { u"server"_s, outcome->server.toJson() } }));
}

void ServerListVerbs::import(ControlCall& call)
{
    const QJsonValue json = call.args().value(u"json"_s);
    if (!json.isString()) {
        call.fail(ControlErrorCode::badArguments, u"import needs the list as \"json\" text"_s);
        return;
    }
    const bool replace = call.args().value(u"replace"_s).toBool();
    const QList<ServerConfig> before = m_store.servers();
    const auto outcome = ServerListEdits::import(before, json.toString().toUtf8(), replace);
    if (!outcome) {
        call.fail(outcome.error());
        return;
    }
    if (m_manager) {
        for (const ServerConfig& server : before) {
            const bool kept = std::any_of(outcome->servers.cbegin(), outcome->servers.cend(),
                [&](const ServerConfig& other) { return other.id == server.id; });
            if (!kept && m_manager->state(server.id).status == ServerStatus::running)
                m_manager->stop(server);
        }
    }
    m_store.setServers(outcome->servers);
    call.reply(stored({ { u"added"_s, names(outcome->added) }, { u"replaced"_s, names(outcome->replaced) },
        { u"removed"_s, names(outcome->removed) } }));
}

void ServerListVerbs::exportList(ControlCall& call)
{
    call.reply({ { u"servers"_s, QString::fromUtf8(ServerConfig::encodeList(m_store.servers())) } });
}

} // namespace Wardlamp
