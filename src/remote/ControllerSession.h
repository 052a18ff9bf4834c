#pragma once

#include "remotekit/ContentKey.h"
#include "remotekit/PeerMessage.h"
#include "remotekit/RelayClient.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>

#include <deque>
#include <optional>

namespace Wardlamp {

// The controller end of a room: one RelayClient in the controller role plus what
// the relay and the desktop tell about each other. Opens every "msg" envelope with
// the content key and hands out the messages; counts those that do not open (the
// sign of a wrong password); follows whether the desktop's agent is in the room.
// A payload seen before is dropped (a relay replaying captured messages).
// Owner: ControllerCommand; main thread.
class ControllerSession : public QObject {
    Q_OBJECT

public:
    ControllerSession(const QUrl& relay, const QString& room, const ContentKey& key, RelayClient::Options options,
        QObject* parent = nullptr);

    void start();
    // Leaves the room: closes the connection with 1001 ("going away"); closed()
    // follows once the relay has answered or the socket is gone.
    void stop();
    void send(const PeerMessage& message);

    bool isOpen() const { return m_client.isOpen(); }
    bool everConnected() const { return m_everConnected; }
    // From the relay's "welcome" and the agent's peerJoin/peerLeave; unknown until told.
    std::optional<bool> agentOnline() const { return m_agentOnline; }
    int openedCount() const { return m_opened; }
    int unopenedCount() const { return m_unopened; }
    QString lastError() const { return m_lastError; }

Q_SIGNALS:
    void connected();
    void connectionLost(const QString& error);
    void agentPresenceChanged(bool online);
    void messageReceived(const Wardlamp::PeerMessage& message);
    // A "msg" envelope that does not open under the key.
    void unopenedMessage();
    // After stop(): the connection has finished closing.
    void closed();

private:
    void handleEvent(const RelayClient::Event& event);
    void handleEnvelope(const Envelope& envelope);
    void setAgentOnline(bool online);

    static constexpr qsizetype rememberedNonces = 4096;

    RelayClient m_client;
    ContentKey m_key;
    bool m_everConnected = false;
    std::optional<bool> m_agentOnline;
    int m_opened = 0;
    int m_unopened = 0;
    QString m_lastError;
    QSet<QByteArray> m_nonces;
    std::deque<QByteArray> m_nonceOrder;
};

} // namespace Wardlamp
