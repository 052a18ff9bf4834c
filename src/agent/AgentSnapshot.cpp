#include "AgentSnapshot.h"

#include "supervision/PlainText.h"

#include "supervision/LogLine.h"
#include "supervision/ServerConfig.h"
#include "supervision/ServerRuntimeState.h"

#include <QCryptographicHash>

#include <cstring>

namespace Wardlamp {

namespace {

WireStatus wireStatus(ServerStatus status)
{
    switch (status) {
    case ServerStatus::stopped:
        return WireStatus::stopped;
    case ServerStatus::running:
        return WireStatus::running;
    case ServerStatus::error:
        return WireStatus::error;
    }
    return WireStatus::stopped;
}

// Length-prefixed fields, so that ("ab", "c") and ("a", "bc") differ.
class HashFeed {
public:
    void text(const QString& value)
    {
        const QByteArray bytes = value.toUtf8();
        number(quint64(bytes.size()));
        m_hash.addData(bytes);
    }
    void number(quint64 value) { m_hash.addData(QByteArrayView(reinterpret_cast<const char*>(&value), sizeof value)); }
    void flag(bool value) { number(value ? 1 : 0); }
    void optionalText(const std::optional<QString>& value)
    {
        flag(value.has_value());
        if (value)
            text(*value);
    }
    quint64 result() const
    {
        const QByteArray digest = m_hash.result();
        quint64 value = 0;
        std::memcpy(&value, digest.constData(), sizeof value);
        return value;
    }

private:
    QCryptographicHash m_hash { QCryptographicHash::Sha256 };
};

} // namespace

WireServer AgentSnapshot::wireServer(const ServerConfig& config, const ServerRuntimeState& state)
{
    WireServer server;
    server.id = config.id;
    server.name = config.name;
    server.command = config.command;
    server.directory = config.directory;
    server.tunnelHostname = config.tunnelHostname;
    server.status = wireStatus(state.status);
    server.hasError = state.hasError;
    server.pid = state.pid;
    if (state.startedAt)
        server.startedAt = WireTime::fromDateTime(*state.startedAt);
    server.lastExitCode = state.lastExitCode;
    return server;
}

WireLogLine AgentSnapshot::wireLine(const LogLine& line)
{
    // The log keeps the server's colours; a controller shows the text alone.
    return WireLogLine { line.id, WireTime::fromDateTime(line.date), PlainText::stripText(line.text), line.isError };
}

Snapshot AgentSnapshot::build(const QString& macName, const QList<ServerConfig>& servers,
    const QHash<QUuid, ServerRuntimeState>& states, const QDateTime& now)
{
    static const ServerRuntimeState defaultState;
    Snapshot snapshot;
    snapshot.macName = macName;
    snapshot.servers.reserve(servers.size());
    for (const ServerConfig& config : servers) {
        const auto found = states.constFind(config.id);
        snapshot.servers.append(wireServer(config, found == states.cend() ? defaultState : *found));
    }
    snapshot.generatedAt = WireTime::fromDateTime(now);
    return snapshot;
}

quint64 AgentSnapshot::hash(const Snapshot& snapshot)
{
    HashFeed feed;
    feed.text(snapshot.macName);
    for (const WireServer& server : snapshot.servers) {
        feed.text(server.id.toString(QUuid::WithoutBraces));
        feed.text(server.name);
        feed.text(server.command);
        feed.optionalText(server.directory);
        feed.optionalText(server.tunnelHostname);
        feed.text(QString(rawValue(server.status)));
        feed.flag(server.hasError);
        feed.flag(server.pid.has_value());
        if (server.pid)
            feed.number(quint64(qint64(*server.pid)));
    }
    return feed.result();
}

} // namespace Wardlamp
