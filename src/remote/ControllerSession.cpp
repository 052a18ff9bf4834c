#include "ControllerSession.h"

namespace Wardlamp {

ControllerSession::ControllerSession(
    const QUrl& relay, const QString& room, const ContentKey& key, RelayClient::Options options, QObject* parent)
    : QObject(parent)
    , m_client(relay, room, PeerRole::controller, std::move(options))
    , m_key(key)
{
    QObject::connect(&m_client, &RelayClient::relayEvent, this, &ControllerSession::handleEvent);
    QObject::connect(&m_client, &RelayClient::closed, this, &ControllerSession::closed);
}

void ControllerSession::start()
{
    m_client.connectToRelay();
}

void ControllerSession::stop()
{
    m_client.disconnectFromRelay();
}

void ControllerSession::send(const PeerMessage& message)
{
    m_client.sendMessage(message, m_key);
}

void ControllerSession::handleEvent(const RelayClient::Event& event)
{
    switch (event.kind) {
    case RelayClient::Event::Kind::connected:
        m_everConnected = true;
        Q_EMIT connected();
        return;
    case RelayClient::Event::Kind::disconnected:
        m_lastError = event.error.value_or(QStringLiteral("the relay closed the connection"));
        Q_EMIT connectionLost(m_lastError);
        return;
    case RelayClient::Event::Kind::envelope:
        handleEnvelope(*event.envelope);
        return;
    }
}

void ControllerSession::handleEnvelope(const Envelope& envelope)
{
    switch (envelope.kind) {
    case Envelope::Kind::welcome:
        if (envelope.online)
            setAgentOnline(*envelope.online);
        return;
    case Envelope::Kind::peerJoin:
    case Envelope::Kind::peerLeave:
        if (envelope.role == PeerRole::agent)
            setAgentOnline(envelope.kind == Envelope::Kind::peerJoin);
        return;
    case Envelope::Kind::msg: {
        if (!envelope.payload)
            return;
        auto opened = PeerMessage::openedWithNonce(*envelope.payload, m_key);
        if (!opened) {
            ++m_unopened;
            Q_EMIT unopenedMessage();
            return;
        }
        ++m_opened;
        if (m_nonces.contains(opened->nonce))
            return;
        m_nonces.insert(opened->nonce);
        m_nonceOrder.push_back(opened->nonce);
        if (static_cast<qsizetype>(m_nonceOrder.size()) > rememberedNonces) {
            m_nonces.remove(m_nonceOrder.front());
            m_nonceOrder.pop_front();
        }
        Q_EMIT messageReceived(opened->message);
        return;
    }
    case Envelope::Kind::ping:
    case Envelope::Kind::pong:
    case Envelope::Kind::registerDevice:
        return;
    }
}

void ControllerSession::setAgentOnline(bool online)
{
    if (m_agentOnline == online)
        return;
    m_agentOnline = online;
    Q_EMIT agentPresenceChanged(online);
}

} // namespace Wardlamp
