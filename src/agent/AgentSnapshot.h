#pragma once

#include "remotekit/Snapshot.h"
#include "remotekit/WireLogLine.h"
#include "remotekit/WireServer.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QUuid>

namespace Wardlamp {

struct LogLine;
struct ServerConfig;
struct ServerRuntimeState;

// How the agent turns the server list and the runtime states into wire records,
// and when a snapshot counts as changed. Pure functions; time comes in.
class AgentSnapshot {
public:
    AgentSnapshot() = delete;

    static WireServer wireServer(const ServerConfig& config, const ServerRuntimeState& state);
    static WireLogLine wireLine(const LogLine& line);
    // `states` without an entry for a server read as the default state.
    static Snapshot build(const QString& macName, const QList<ServerConfig>& servers,
        const QHash<QUuid, ServerRuntimeState>& states, const QDateTime& now);

    // Covers the name and, per server in order, id, name, command, directory,
    // tunnel host name, status, error flag and pid (optional values with a
    // presence marker). Not the start time, the exit code or generatedAt.
    // Stable within one process only.
    static quint64 hash(const Snapshot& snapshot);
};

} // namespace Wardlamp
