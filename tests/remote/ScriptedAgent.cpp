#include "ScriptedAgent.h"

#include "remotekit/RemoteCrypto.h"

#include <QDateTime>

namespace Wardlamp::Test {

ScriptedAgent::ScriptedAgent(const QUrl& relay, const SecretBytes& secret, const std::optional<QString>& password)
    : m_client(relay, RemoteCrypto::roomId(secret), PeerRole::agent)
    , m_key(*RemoteCrypto::contentKey(secret, password))
{
    connect(&m_client, &RelayClient::relayEvent, this, &ScriptedAgent::handleEvent);
}

void ScriptedAgent::start()
{
    m_client.connectToRelay();
}

void ScriptedAgent::appendLine(const QUuid& serverId, const QString& text, bool isError)
{
    WireLogLine line { QUuid::createUuid(), WireTime::fromDateTime(QDateTime::currentDateTimeUtc()), text, isError };
    logs[serverId].append(line);
    m_client.sendMessage(PeerMessage::logAppend(serverId, { line }), m_key);
}

void ScriptedAgent::announce(const QUuid& serverId, const QString& text)
{
    m_client.sendMessage(
        PeerMessage::notify(serverId, text), m_key, false, RemoteCrypto::notifyTag(NotifyKind::error, m_key));
}

void ScriptedAgent::handleEvent(const RelayClient::Event& event)
{
    if (event.kind == RelayClient::Event::Kind::connected) {
        m_controllers = 0;
        sendSnapshot();
        return;
    }
    if (event.kind != RelayClient::Event::Kind::envelope)
        return;
    const Envelope& envelope = *event.envelope;
    if (envelope.kind == Envelope::Kind::peerJoin && envelope.role == PeerRole::controller) {
        ++m_controllers;
        sendSnapshot();
        for (auto it = logs.cbegin(); it != logs.cend(); ++it)
            sendBacklog(it.key());
    } else if (envelope.kind == Envelope::Kind::peerLeave && envelope.role == PeerRole::controller) {
        m_controllers = std::max(0, m_controllers - 1);
    } else if (envelope.kind == Envelope::Kind::msg && envelope.payload) {
        if (auto opened = PeerMessage::opened(*envelope.payload, m_key))
            handleMessage(*opened);
    }
}

void ScriptedAgent::handleMessage(const PeerMessage& message)
{
    received.append(message);
    switch (message.type) {
    case PeerMessage::MessageType::requestSnapshot:
        sendSnapshot();
        break;
    case PeerMessage::MessageType::subscribeLogs:
        if (message.serverId) {
            sendBacklog(*message.serverId);
        } else {
            for (auto it = logs.cbegin(); it != logs.cend(); ++it)
                sendBacklog(it.key());
        }
        break;
    case PeerMessage::MessageType::command:
        if (message.serverId && message.action) {
            const bool ok = !refused.contains(*message.serverId);
            m_client.sendMessage(PeerMessage::commandAck(*message.serverId, *message.action, ok,
                                     ok ? std::nullopt : std::optional<QString>(QStringLiteral("not allowed"))),
                m_key);
        }
        break;
    default:
        break;
    }
}

void ScriptedAgent::sendSnapshot()
{
    snapshot.generatedAt = WireTime::fromDateTime(QDateTime::currentDateTimeUtc());
    m_client.sendMessage(PeerMessage::snapshot(snapshot), m_key, true);
}

void ScriptedAgent::sendBacklog(const QUuid& serverId)
{
    const QList<WireLogLine> lines = logs.value(serverId);
    if (lines.isEmpty())
        return;
    m_client.sendMessage(
        PeerMessage::logAppend(serverId, lines.mid(std::max<qsizetype>(0, lines.size() - 500))), m_key);
}

} // namespace Wardlamp::Test
