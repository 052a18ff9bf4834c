#include "SupervisionVerbs.h"

#include "cli/ServerListing.h"
#include "control/ControlCall.h"
#include "control/ControlVerbs.h"
#include "control/PortScanner.h"
#include "control/RestartCounter.h"
#include "supervision/ProcessTree.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"

#include <QCoreApplication>
#include <QDateTime>
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

void SupervisionVerbs::ls(ControlCall& call)
{
    QJsonObject result = listing().toJsonObject(QDateTime::currentDateTimeUtc());
    result.insert(u"supervising"_s, !m_manager.isNull());
    call.reply(result);
}

} // namespace Wardlamp
