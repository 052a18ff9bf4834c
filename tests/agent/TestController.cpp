#include "TestController.h"

#include "TestEnvironment.h"
#include "remotekit/RemoteCrypto.h"

#include <QTest>

namespace Wardlamp::Test {

TestController::TestController(
    const QUrl& relay, const SecretBytes& secret, const std::optional<QString>& password, QObject* parent)
    : QObject(parent)
    , m_client(std::make_unique<RelayClient>(relay, RemoteCrypto::roomId(secret), PeerRole::controller,
          [] {
              RelayClient::Options options;
              options.timeScale = 0.1; // quick reconnects after a relay restart
              return options;
          }()))
    , m_key(*RemoteCrypto::contentKey(secret, password))
{
    QObject::connect(m_client.get(), &RelayClient::relayEvent, this, [this](const RelayClient::Event& event) {
        if (event.kind == RelayClient::Event::Kind::connected)
            m_connected = true;
        if (event.kind == RelayClient::Event::Kind::disconnected)
            m_connected = false;
        if (event.kind != RelayClient::Event::Kind::envelope || !event.envelope)
            return;
        const Envelope& envelope = *event.envelope;
        if (envelope.kind != Envelope::Kind::msg || !envelope.payload)
            return;
        auto opened = PeerMessage::opened(*envelope.payload, m_key);
        if (!opened) {
            ++m_undecryptable;
            return;
        }
        m_received.append({ envelope, *opened });
    });
}

TestController::~TestController() = default;

bool TestController::join()
{
    m_client->connectToRelay();
    return QTest::qWaitFor([this] { return m_connected; }, waitMs(10000));
}

void TestController::leave()
{
    m_client->disconnectFromRelay();
    m_connected = false;
}

void TestController::send(const PeerMessage& message)
{
    m_client->sendMessage(message, m_key);
}

Envelope TestController::sealedEnvelope(const PeerMessage& message) const
{
    return Envelope::message(PeerRole::controller, *message.sealed(m_key));
}

void TestController::sendEnvelope(const Envelope& envelope)
{
    m_client->sendEnvelope(envelope);
}

QList<TestController::Received> TestController::ofType(PeerMessage::MessageType type) const
{
    QList<Received> result;
    for (const Received& received : m_received)
        if (received.message.type == type)
            result.append(received);
    return result;
}

std::optional<TestController::Received> TestController::waitFor(
    const std::function<bool(const Received&)>& match, int from, int timeoutMs)
{
    std::optional<Received> found;
    const bool arrived = QTest::qWaitFor(
        [&] {
            for (int i = from; i < m_received.size(); ++i) {
                if (match(m_received[i])) {
                    found = m_received[i];
                    return true;
                }
            }
            return false;
        },
        waitMs(timeoutMs));
    Q_UNUSED(arrived);
    return found;
}

QList<QString> TestController::lineTexts(const QUuid& serverId) const
{
    QList<QString> texts;
    for (const Received& received : m_received) {
        if (received.message.type != PeerMessage::MessageType::logAppend || received.message.serverId != serverId)
            continue;
        for (const WireLogLine& line : received.message.lines.value_or(QList<WireLogLine>()))
            texts.append(line.text);
    }
    return texts;
}

} // namespace Wardlamp::Test
