#include "SupervisionVerbs.h"

#include "cli/ServerListing.h"
#include "control/ControlCall.h"
#include "control/ControlVerbs.h"
#include "control/LogVerbs.h"
#include "control/PortScanner.h"
#include "control/RestartCounter.h"
#include "control/ServerListEdits.h"
#include "control/ServerListVerbs.h"
#include "supervision/ProcessTree.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QSysInfo>

#include <algorithm>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

ServerRow::Status rowStatus(ServerStatus status)
{
    switch (status) {
    case ServerStatus::stopped:
        return ServerRow::Status::stopped;
    case ServerStatus::running:
        return ServerRow::Status::running;
    case ServerStatus::error:
        return ServerRow::Status::error;
    }
    return ServerRow::Status::stopped;
}

ServerRow configRow(const ServerConfig& config)
{
    ServerRow row;
    row.id = config.id;
    row.name = config.name;
    row.command = config.command;
    row.directory = config.directory;
    row.tunnelHostname = config.tunnelHostname;
    return row;
}

} // namespace

SupervisionVerbs::SupervisionVerbs(
    ControlVerbs& verbs, ServerStore& store, ServerManager* manager, Options options, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_manager(manager)
    , m_options(std::move(options))
{
    if (manager)
        m_restarts = std::make_unique<RestartCounter>(*manager);
    verbs.add(u"ping"_s, [this](ControlCall& call) { ping(call); });
    verbs.add(u"ls"_s, [this](ControlCall& call) { ls(call); });
    verbs.add(u"start"_s, [this](ControlCall& call) { act(call, Action::start); });
    verbs.add(u"stop"_s, [this](ControlCall& call) { act(call, Action::stop); });
    verbs.add(u"restart"_s, [this](ControlCall& call) { act(call, Action::restart); });
    verbs.add(u"clear"_s, [this](ControlCall& call) { act(call, Action::clear); });
    m_listVerbs = std::make_unique<ServerListVerbs>(verbs, store, manager);
    m_logVerbs = std::make_unique<LogVerbs>(verbs, store, manager);
}

SupervisionVerbs::~SupervisionVerbs() = default;

void SupervisionVerbs::ping(ControlCall& call)
{
    call.reply({ { u"program"_s, m_options.program }, { u"pid"_s, QCoreApplication::applicationPid() },
        { u"supervising"_s, !m_manager.isNull() } });
}

ServerListing SupervisionVerbs::listing() const
{
    ServerListing listing;
    listing.macName = m_options.computerName ? m_options.computerName() : QSysInfo::machineHostName();
    listing.generatedAtMs = double(QDateTime::currentMSecsSinceEpoch());
    const QList<ServerConfig>& servers = m_store.servers();
    if (!m_manager) {
        for (const ServerConfig& config : servers)
            listing.servers.append(configRow(config));
        return listing;
    }

    // Ports belong to a server's whole tree (`npm run dev` listens in node,
    // two levels down): one snapshot of the processes, one scan of their sockets.
    QHash<qint32, QList<qint32>> members; // server root pid -> its tree
    QSet<qint32> everyone;
    if (m_options.portScanner) {
        const ProcessTree processes = ProcessTree::snapshot();
        for (const ServerConfig& config : servers) {
            const std::optional<qint32> pid = m_manager->state(config.id).pid;
            if (!pid || members.contains(*pid))
                continue;
            QList<qint32>& tree = members[*pid];
            for (const ProcessInfo& process : processes.treeOf(*pid)) {
                tree.append(process.pid);
                everyone.insert(process.pid);
            }
        }
    }
    const QHash<qint32, QList<quint16>> ports
        = everyone.isEmpty() ? QHash<qint32, QList<quint16>>() : m_options.portScanner->listeningPorts(everyone);

    for (const ServerConfig& config : servers) {
        ServerRow row = configRow(config);
        const ServerRuntimeState& state = m_manager->state(config.id);
        row.status = rowStatus(state.status);
        row.hasError = state.hasError;
        row.pid = state.pid;
        if (state.startedAt)
            row.startedAtMs = double(state.startedAt->toMSecsSinceEpoch());
        row.lastExitCode = state.lastExitCode;
        row.restarts = m_restarts->restarts(config.id);
        if (m_options.portScanner) {
            QList<quint16> serverPorts;
            if (state.pid) {
                for (const qint32 member : members.value(*state.pid))
                    serverPorts += ports.value(member);
                std::sort(serverPorts.begin(), serverPorts.end());
                serverPorts.erase(std::unique(serverPorts.begin(), serverPorts.end()), serverPorts.end());
            }
            row.ports = serverPorts;
        }
        listing.servers.append(std::move(row));
    }
    return listing;
}

void SupervisionVerbs::act(ControlCall& call, Action action)
{
    if (!m_manager) {
        call.fail(ControlErrorCode::notRunning,
            u"nothing supervises this configuration: `wardlampd` runs the servers (or start the desktop app)"_s);
        return;
    }
    const QList<ServerConfig> servers = m_store.servers();
    QList<ServerConfig> targets;
    if (call.args().value(u"all"_s).toBool()) {
        targets = servers;
    } else {
        const Expected<qsizetype, ControlError> index
            = ServerListEdits::find(servers, call.args().value(u"server"_s).toString());
        if (!index) {
            call.fail(index.error());
            return;
        }
        targets.append(servers.at(*index));
    }

    QJsonArray results;
    for (const ServerConfig& server : std::as_const(targets)) {
        const ServerRuntimeState& before = m_manager->state(server.id);
        const bool wasRunning = before.status == ServerStatus::running;
        const bool hadProcess = before.pid.has_value();
        QString note;
        switch (action) {
        case Action::start:
            if (wasRunning)
                note = u"already running"_s;
            else
                m_manager->start(server);
            break;
        case Action::stop:
            if (!hadProcess && !wasRunning)
                note = u"not running"_s;
            m_manager->stop(server);
            break;
        case Action::restart:
            m_manager->restart(server);
            break;
        case Action::clear:
            m_manager->clearLogs(server.id);
            break;
        }
        const ServerRuntimeState& after = m_manager->state(server.id);
        QJsonObject entry { { u"id"_s, uuidText(server.id) }, { u"name"_s, server.name },
            { u"status"_s, ServerRow::statusWord(rowStatus(after.status)) } };
        if (after.pid)
            entry.insert(u"pid"_s, *after.pid);
        // A start that did not get going says why: its last error line.
        const bool started = action == Action::start || (action == Action::restart && !wasRunning);
        if (started && after.status == ServerStatus::error && !after.pid) {
            entry.insert(u"failed"_s, true);
            for (int i = after.logs.size() - 1; i >= 0; --i) {
                if (after.logs.isErrorAt(i)) {
                    note = QString::fromUtf8(after.logs.textAt(i));
                    break;
                }
            }
        }
        if (!note.isEmpty())
            entry.insert(u"note"_s, note);
        results.append(entry);
    }
    call.reply({ { u"servers"_s, results } });
}

void SupervisionVerbs::ls(ControlCall& call)
{
    QJsonObject result = listing().toJsonObject(QDateTime::currentDateTimeUtc());
    result.insert(u"supervising"_s, !m_manager.isNull());
    call.reply(result);
}

} // namespace Wardlamp
