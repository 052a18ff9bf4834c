#pragma once

#include "remotekit/ContentKey.h"
#include "remotekit/Envelope.h"
#include "remotekit/PeerMessage.h"
#include "remotekit/RelayClient.h"
#include "remotekit/SecretBytes.h"

#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace Wardlamp::Test {

// The phone's side in a test: a real RelayClient with role controller in the
// room of a secret, opening what the agent sends with its own content key.
class TestController : public QObject {
    Q_OBJECT

public:
    struct Received {
        Envelope envelope;
        PeerMessage message;
    };

    TestController(const QUrl& relay, const SecretBytes& secret, const std::optional<QString>& password = {},
        QObject* parent = nullptr);
    ~TestController() override;

    // Connects and waits until the relay has accepted the connection.
    bool join();
    void leave();

    void send(const PeerMessage& message);
    // The exact envelope that send() would produce, for sending it again.
    Envelope sealedEnvelope(const PeerMessage& message) const;
    void sendEnvelope(const Envelope& envelope);

    const QList<Received>& received() const { return m_received; }
    int undecryptable() const { return m_undecryptable; }
    QList<Received> ofType(PeerMessage::MessageType type) const;
    // Waits until a message matching `match` arrives after index `from`.
    std::optional<Received> waitFor(
        const std::function<bool(const Received&)>& match, int from = 0, int timeoutMs = 10000);
    // Every log line of one server received in log appends, in arrival order.
    QList<QString> lineTexts(const QUuid& serverId) const;
    void clear() { m_received.clear(); }
    RelayClient& client() { return *m_client; }
    bool isConnected() const { return m_connected; }

private:
    std::unique_ptr<RelayClient> m_client;
    ContentKey m_key;
    QList<Received> m_received;
    int m_undecryptable = 0;
    bool m_connected = false;
};

} // namespace Wardlamp::Test
