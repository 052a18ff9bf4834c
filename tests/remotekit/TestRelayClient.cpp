#include "RelayProcess.h"
#include "TestEnvironment.h"

#include "remotekit/ContentKey.h"
#include "remotekit/PeerMessage.h"
#include "remotekit/ReconnectSchedule.h"
#include "remotekit/RelayClient.h"
#include "remotekit/RemoteCrypto.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>
#include <memory>

using namespace Wardlamp;
using Wardlamp::Test::RelayProcess;
using Wardlamp::Test::waitMs;
using Kind = RelayClient::Event::Kind;

namespace {

// Every event of one client, in delivery order.
class EventLog : public QObject {
public:
    explicit EventLog(RelayClient* client)
    {
        QObject::connect(
            client, &RelayClient::relayEvent, this, [this](const RelayClient::Event& event) { events.append(event); });
    }

    int count(Kind kind) const
    {
        return static_cast<int>(std::count_if(
            events.cbegin(), events.cend(), [kind](const RelayClient::Event& e) { return e.kind == kind; }));
    }
    QList<Envelope> envelopes(std::optional<Envelope::Kind> only = std::nullopt) const
    {
        QList<Envelope> out;
        for (const auto& event : events) {
            if (event.kind == Kind::envelope && (!only || event.envelope->kind == *only))
                out.append(*event.envelope);
        }
        return out;
    }
    // Messages of "msg" envelopes that open under `key`.
    QList<PeerMessage> messages(const ContentKey& key) const
    {
        QList<PeerMessage> out;
        for (const auto& envelope : envelopes(Envelope::Kind::msg)) {
            if (auto opened = PeerMessage::opened(envelope.payload.value_or(QString()), key))
                out.append(*opened);
        }
        return out;
    }

    QList<RelayClient::Event> events;
};

// A pairing of its own for each test: room and content key.
struct Pairing {
    Pairing()
        : secret(*RemoteCrypto::randomSecret(32))
        , room(RemoteCrypto::roomId(secret))
        , key(*RemoteCrypto::contentKey(secret))
    {
    }
    SecretBytes secret;
    QString room;
    ContentKey key;
};

// A scripted stand-in for the relay: a plain QWebSocketServer whose test decides
// what each connection gets.
class ScriptedRelay : public QObject {
public:
    ScriptedRelay()
        : server(QStringLiteral("scripted"), QWebSocketServer::NonSecureMode)
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* socket = server.nextPendingConnection()) {
                socket->setParent(&server);
                sockets.append(socket);
                requests.append(socket->request());
                QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                    [this](const QString& text) { received.append(text); });
                QObject::connect(socket, &QWebSocket::disconnected, this,
                    [this, socket] { closeCodes.append(socket->closeCode()); });
            }
        });
    }
    // The server's sockets are deleted after the lists below are gone, and a socket being
    // deleted still signals: cut every connection to this object first.
    ~ScriptedRelay() override
    {
        QObject::disconnect(&server, nullptr, this, nullptr);
        for (const auto& socket : sockets) {
            if (socket)
                QObject::disconnect(socket, nullptr, this, nullptr);
        }
    }

    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.serverPort())); }

    QWebSocketServer server;
    QList<QPointer<QWebSocket>> sockets;
    QList<QNetworkRequest> requests;
    QStringList received;
    QList<QWebSocketProtocol::CloseCode> closeCodes;
};

// A WebSocket server that completes every upgrade and then never reads another
// byte: what a client sends piles up in the kernel's buffers, then in its own.
class DeafServer : public QObject {
public:
    DeafServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                socket->setParent(&server);
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answerUpgrade(socket); });
            }
        });
    }
    ~DeafServer() override { QObject::disconnect(&server, nullptr, this, nullptr); }

    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.serverPort())); }

    QTcpServer server;
    int upgraded = 0;

private:
    void answerUpgrade(QTcpSocket* socket)
    {
        QByteArray& request = m_requests[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        QByteArray key;
        for (const QByteArray& line : request.split('\n')) {
            if (line.toLower().startsWith("sec-websocket-key:"))
                key = line.mid(line.indexOf(':') + 1).trimmed();
        }
        const QByteArray accept = QCryptographicHash::hash(
            QByteArray(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"), QCryptographicHash::Sha1)
                                      .toBase64();
        socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Accept: "
            + accept + "\r\n\r\n");
        // Deaf from here on: Qt stops taking bytes from the kernel once this tiny buffer is full.
        QObject::disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        socket->setReadBufferSize(1);
        m_requests.remove(socket);
        ++upgraded;
    }

    QHash<QTcpSocket*, QByteArray> m_requests;
};

// Sends envelopes of `payloadBytes` through `client`, letting the event loop run
// between them as an agent streaming logs would, until the client ends the
// connection for its backlog (or `giveUpBytes` were handed over). Returns the
// bytes handed over and the largest backlog seen.
struct Flood {
    qint64 handed = 0;
    qint64 largestBacklog = 0;
};
Flood floodUntilOverflow(RelayClient& client, int payloadBytes, qint64 giveUpBytes)
{
    const Envelope envelope = Envelope::message(client.role(), QString(payloadBytes, QLatin1Char('A')));
    const qint64 frameBytes = envelope.encode().size();
    const int overflowsBefore = client.backlogOverflows();
    Flood flood;
    while (client.backlogOverflows() == overflowsBefore && flood.handed < giveUpBytes) {
        if (client.isOpen()) {
            client.sendEnvelope(envelope);
            flood.handed += frameBytes;
            flood.largestBacklog = std::max(flood.largestBacklog, client.pendingBytes());
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return flood;
}

// Whether a controller's peerJoin came after the latest `connected` of this log.
bool peerJoinAfterLatestOpen(const EventLog& log)
{
    bool seen = false;
    for (const auto& event : log.events) {
        if (event.kind == Kind::connected)
            seen = false;
        else if (event.kind == Kind::envelope && event.envelope->kind == Envelope::Kind::peerJoin
            && event.envelope->role == PeerRole::controller)
            seen = true;
    }
    return seen;
}

RelayClient::Options scaledBy(double timeScale)
{
    RelayClient::Options options;
    options.timeScale = timeScale;
    return options;
}

// The jitter never exceeds 0.5 s, so a scheduled delay lies in [backoff, backoff + 0.5 s], scaled.
bool delayWithinSchedule(int attempt, qint64 delayMs, double timeScale)
{
    const double low = ReconnectSchedule::backoffSeconds(attempt) * 1000 * timeScale;
    const double high
        = (ReconnectSchedule::backoffSeconds(attempt) + ReconnectSchedule::maxJitterSeconds) * 1000 * timeScale;
    return delayMs >= std::floor(low) && delayMs <= std::ceil(high);
}

} // namespace

class TestRelayClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    // Pure parts.
    void connectionUrl_data();
    void connectionUrl();
    void backoff_data();
    void backoff();
    void jitter_data();
    void jitter();
    void drawStaysInRange();

    // Against the real relay.
    void sealedMessagesCrossTheRelay_data();
    void sealedMessagesCrossTheRelay();
    void controllerFloodArrivesWholeAndInOrder();
    void sendWhileWaitingIsDroppedNotQueued();
    void relayRestartReconnectsOnSchedule();
    void refusedUpgradeKeepsRetryingWithGrowingDelays();
    void heartbeatKeepsIdleConnectionOpen();
    void unansweredPingReconnects();
    void wssWithOwnCertificate();
    void wssWithUntrustedCertificateFails();
    void stalledRelayBoundsBacklogAndReconnects_data();
    void stalledRelayBoundsBacklogAndReconnects();

    // Against scripted servers.
    void requestCarriesPathAndHeaders_data();
    void requestCarriesPathAndHeaders();
    void connectTwiceOpensOneConnection();
    void undecodableFramesAreDroppedConnectionKept();
    void oversizeMessageIsALostConnection_data();
    void oversizeMessageIsALostConnection();
    void relayCloseCodeIsReported();
    void relayCloseReportsNoErrorAndReconnects();
    void tearDownClosesWithGoingAway();
    void handshakeTimeoutIsEnforced();
    void noEventAfterDisconnectEvenFromPendingFailure();
    void disconnectInHandlerDropsQueuedEvents();
    void deafServerOverflowsBackOffLikeFailures();

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
};

void TestRelayClient::initTestCase()
{
    m_env = std::make_unique<Wardlamp::Test::TestEnvironment>();
    qRegisterMetaType<RelayClient::Event>();
}

void TestRelayClient::connectionUrl_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bare host") << "wss://relay.example"
                               << "wss://relay.example/connect";
    QTest::newRow("root slash") << "wss://relay.example/"
                                << "wss://relay.example/connect";
    QTest::newRow("path") << "wss://relay.example/wl"
                          << "wss://relay.example/wl/connect";
    QTest::newRow("path with trailing slash") << "wss://relay.example/wl/"
                                              << "wss://relay.example/wl/connect";
    QTest::newRow("doubled trailing slash") << "wss://relay.example/wl//"
                                            << "wss://relay.example/wl/connect";
    QTest::newRow("port kept") << "ws://127.0.0.1:8080"
                               << "ws://127.0.0.1:8080/connect";
    // Hosted relays behind an authenticating proxy take a token in the query.
    QTest::newRow("query kept") << "wss://relay.example/wl?x=1"
                                << "wss://relay.example/wl/connect?x=1";
    QTest::newRow("query after a root slash") << "wss://relay.example/?token=ab.C-9_z&x="
                                              << "wss://relay.example/connect?token=ab.C-9_z&x=";
    QTest::newRow("fragment dropped, query kept") << "wss://relay.example/wl/?t=1#part"
                                                  << "wss://relay.example/wl/connect?t=1";
}

void TestRelayClient::connectionUrl()
{
    QFETCH(QString, endpoint);
    QFETCH(QString, expected);
    QCOMPARE(RelayClient::connectionUrl(QUrl(endpoint)).toString(), expected);
}

void TestRelayClient::backoff_data()
{
    QTest::addColumn<int>("attempt");
    QTest::addColumn<double>("seconds");
    const QList<double> expected { 0.5, 1, 2, 4, 8, 16, 30, 30 };
    for (int n = 0; n < expected.size(); ++n)
        QTest::addRow("n=%d", n) << n << expected[n];
    QTest::newRow("huge attempt stays capped") << 100000 << 30.0;
    QTest::newRow("negative reads as first") << -3 << 0.5;
}

void TestRelayClient::backoff()
{
    QFETCH(int, attempt);
    QFETCH(double, seconds);
    QCOMPARE(ReconnectSchedule::backoffSeconds(attempt), seconds);
}

void TestRelayClient::jitter_data()
{
    QTest::addColumn<quint64>("draw");
    QTest::addColumn<double>("seconds");
    constexpr quint64 limit = ReconnectSchedule::drawLimit;
    QTest::newRow("zero") << quint64(0) << 0.0;
    QTest::newRow("half") << limit / 2 << 0.25;
    QTest::newRow("quarter") << limit / 4 << 0.125;
    QTest::newRow("limit is exactly 0.5") << limit << 0.5;
    QTest::newRow("one below limit") << limit - 1 << 0.5 * double(limit - 1) / double(limit);
    QTest::newRow("above limit clamps") << limit + 12345 << 0.5;
}

void TestRelayClient::jitter()
{
    QFETCH(quint64, draw);
    QFETCH(double, seconds);
    QCOMPARE(ReconnectSchedule::jitterSeconds(draw), seconds);
    QCOMPARE(ReconnectSchedule::delaySeconds(3, draw), 4.0 + seconds);
    QCOMPARE(ReconnectSchedule::delay(3, draw, 0.5).count(), qint64(std::llround((4.0 + seconds) * 500)));
}

void TestRelayClient::drawStaysInRange()
{
    quint64 smallest = ReconnectSchedule::drawLimit;
    quint64 largest = 0;
    for (int i = 0; i < 4000; ++i) {
        const quint64 r = ReconnectSchedule::draw();
        QVERIFY(r <= ReconnectSchedule::drawLimit);
        smallest = std::min(smallest, r);
        largest = std::max(largest, r);
    }
    // 4000 uniform draws leave both ends of the range well covered.
    QVERIFY(smallest < ReconnectSchedule::drawLimit / 50);
    QVERIFY(largest > ReconnectSchedule::drawLimit / 50 * 49);
}

void TestRelayClient::sealedMessagesCrossTheRelay_data()
{
    QTest::addColumn<bool>("fromAgent");
    QTest::addColumn<bool>("cache");
    QTest::addColumn<QString>("tag");
    QTest::newRow("agent snapshot, cached") << true << true << QString();
    QTest::newRow("agent notify, tagged") << true << false << QStringLiteral("0123456789abcdef0123456789abcdef");
    QTest::newRow("agent plain") << true << false << QString();
    QTest::newRow("controller command") << false << false << QString();
}

void TestRelayClient::sealedMessagesCrossTheRelay()
{
    QFETCH(bool, fromAgent);
    QFETCH(bool, cache);
    QFETCH(QString, tag);

    RelayProcess relay;
    QVERIFY2(relay.start(), qPrintable(relay.errorText()));
    Pairing pairing;
    RelayClient agent(relay.url(), pairing.room, PeerRole::agent);
    RelayClient controller(relay.url(), pairing.room, PeerRole::controller);
    EventLog agentLog(&agent);
    EventLog controllerLog(&controller);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(agentLog.count(Kind::connected), 1, waitMs(10000));
    controller.connectToRelay();
    // The agent knows the controller is there once the relay says so.
    QTRY_COMPARE_WITH_TIMEOUT(agentLog.envelopes(Envelope::Kind::peerJoin).size(), 1, waitMs(10000));
    QCOMPARE(agentLog.envelopes(Envelope::Kind::peerJoin).first().role, PeerRole::controller);

    const QUuid serverId = QUuid::createUuid();
    Snapshot snapshot;
    snapshot.macName = QStringLiteral("desk");
    snapshot.generatedAt = WireTime { 1700000000123.0 };
    WireServer server;
    server.id = serverId;
    server.name = QStringLiteral("api");
    server.command = QStringLiteral("bun server.js");
    server.status = WireStatus::running;
    server.pid = 4242;
    snapshot.servers = { server };
    const PeerMessage sent
        = fromAgent ? PeerMessage::snapshot(snapshot) : PeerMessage::command(serverId, CommandAction::stop);
    const std::optional<QString> tagArg = tag.isEmpty() ? std::nullopt : std::optional<QString>(tag);
    (fromAgent ? agent : controller).sendMessage(sent, pairing.key, cache, tagArg);

    EventLog& receiverLog = fromAgent ? controllerLog : agentLog;
    QTRY_COMPARE_WITH_TIMEOUT(receiverLog.envelopes(Envelope::Kind::msg).size(), 1, waitMs(10000));
    const Envelope envelope = receiverLog.envelopes(Envelope::Kind::msg).first();
    QCOMPARE(envelope.v, 1);
    QCOMPARE(envelope.role, fromAgent ? PeerRole::agent : PeerRole::controller);
    QCOMPARE(envelope.cache, cache ? std::optional<bool>(true) : std::nullopt);
    QCOMPARE(envelope.tag, tagArg);
    QCOMPARE(envelope.notify, tagArg ? std::optional<bool>(true) : std::nullopt);
    QVERIFY(!envelope.online && !envelope.deviceToken && !envelope.tags);
    const auto opened = PeerMessage::opened(*envelope.payload, pairing.key);
    QVERIFY(opened.hasValue());
    QCOMPARE(*opened, sent);

    // Another pairing's key opens nothing.
    Pairing other;
    QVERIFY(!PeerMessage::opened(*envelope.payload, other.key).hasValue());
    QCOMPARE(agentLog.count(Kind::disconnected) + controllerLog.count(Kind::disconnected), 0);
}

void TestRelayClient::controllerFloodArrivesWholeAndInOrder()
{
    RelayProcess relay;
    QVERIFY2(relay.start(), qPrintable(relay.errorText()));
    Pairing pairing;
    RelayClient agent(relay.url(), pairing.room, PeerRole::agent);
    RelayClient controller(relay.url(), pairing.room, PeerRole::controller);
    EventLog agentLog(&agent);
    EventLog controllerLog(&controller);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(agentLog.count(Kind::connected), 1, waitMs(10000));
    controller.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(agentLog.envelopes(Envelope::Kind::peerJoin).size(), 1, waitMs(10000));

    // All sent in one go, without returning to the event loop.
    constexpr int count = 2000;
    QList<QUuid> ids;
    for (int i = 0; i < count; ++i) {
        ids.append(QUuid::createUuid());
        controller.sendMessage(PeerMessage::command(ids.last(), CommandAction::restart), pairing.key);
    }
    QTRY_COMPARE_WITH_TIMEOUT(agentLog.envelopes(Envelope::Kind::msg).size(), count, waitMs(30000));
    const QList<PeerMessage> messages = agentLog.messages(pairing.key);
    QCOMPARE(messages.size(), count);
    for (int i = 0; i < count; ++i)
        QCOMPARE(messages[i].serverId, ids[i]);
    QVERIFY(agent.isOpen() && controller.isOpen());
    QCOMPARE(agentLog.count(Kind::disconnected), 0);
}

void TestRelayClient::sendWhileWaitingIsDroppedNotQueued()
{
    RelayProcess relay;
    QVERIFY2(relay.start(), qPrintable(relay.errorText()));
    const quint16 port = relay.port();
    Pairing pairing;
    RelayClient agent(relay.url(), pairing.room, PeerRole::agent, scaledBy(0.02));
    RelayClient controller(relay.url(), pairing.room, PeerRole::controller, scaledBy(0.02));
    EventLog agentLog(&agent);
    EventLog controllerLog(&controller);
    agent.connectToRelay();
    controller.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(agentLog.count(Kind::connected), 1, waitMs(10000));
    QTRY_COMPARE_WITH_TIMEOUT(controllerLog.count(Kind::connected), 1, waitMs(10000));

    relay.stop();
    QTRY_VERIFY_WITH_TIMEOUT(agentLog.count(Kind::disconnected) >= 1, waitMs(10000));
    QVERIFY(!agent.isOpen());
    agent.sendMessage(PeerMessage::notify(QUuid::createUuid(), QStringLiteral("lost")), pairing.key);

    QVERIFY2(relay.start(port), qPrintable(relay.errorText()));
    QTRY_COMPARE_WITH_TIMEOUT(agentLog.count(Kind::connected), 2, waitMs(20000));
    QTRY_COMPARE_WITH_TIMEOUT(controllerLog.count(Kind::connected), 2, waitMs(20000));
    // Both back in the room: after its new open the agent hears of the controller, whichever came first.
    QTRY_VERIFY_WITH_TIMEOUT(peerJoinAfterLatestOpen(agentLog), waitMs(10000));

    agent.sendMessage(PeerMessage::notify(QUuid::createUuid(), QStringLiteral("fresh")), pairing.key);
    QTRY_VERIFY_WITH_TIMEOUT(!controllerLog.messages(pairing.key).isEmpty(), waitMs(10000));
    // The relay keeps order: had "lost" been kept and sent on reconnect, it would come first.
    QCOMPARE(controllerLog.messages(pairing.key).first().message, QStringLiteral("fresh"));
    QCOMPARE(controllerLog.messages(pairing.key).size(), 1);
}

void TestRelayClient::relayRestartReconnectsOnSchedule()
{
    constexpr double scale = 0.02; // 0.5 s → 10 ms, 30 s → 600 ms
    RelayProcess relay;
    QVERIFY2(relay.start(), qPrintable(relay.errorText()));
    const quint16 port = relay.port();
    Pairing pairing;
    RelayClient agent(relay.url(), pairing.room, PeerRole::agent, scaledBy(scale));
    EventLog log(&agent);
    QSignalSpy scheduled(&agent, &RelayClient::reconnectScheduled);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 1, waitMs(10000));

    relay.stop();
    // Refused attempts follow the back-off: attempts numbered 0, 1, 2, ... with delays on the schedule.
    QTRY_VERIFY_WITH_TIMEOUT(scheduled.size() >= 7, waitMs(30000));
    for (int i = 0; i < scheduled.size(); ++i) {
        const int attempt = scheduled.at(i).at(0).toInt();
        const qint64 delay = scheduled.at(i).at(1).toLongLong();
        QCOMPARE(attempt, i);
        QVERIFY2(delayWithinSchedule(attempt, delay, scale),
            qPrintable(QStringLiteral("attempt %1 delay %2 ms").arg(attempt).arg(delay)));
    }
    QCOMPARE(log.count(Kind::disconnected), scheduled.size());
    QCOMPARE(log.count(Kind::connected), 1);
    QVERIFY(agent.reconnectAttempt() >= 7);

    QVERIFY2(relay.start(port), qPrintable(relay.errorText()));
    // At most 30 s × scale + jitter away.
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 2, waitMs(20000));
    QCOMPARE(agent.reconnectAttempt(), 0);

    // The successful open reset the sequence: the next failure waits the first step again.
    scheduled.clear();
    relay.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!scheduled.isEmpty(), waitMs(10000));
    QCOMPARE(scheduled.first().at(0).toInt(), 0);
    QVERIFY(delayWithinSchedule(0, scheduled.first().at(1).toLongLong(), scale));
}

void TestRelayClient::refusedUpgradeKeepsRetryingWithGrowingDelays()
{
    constexpr double scale = 0.02;
    RelayProcess relay;
    QVERIFY2(relay.start(), qPrintable(relay.errorText()));
    // Not 32 lower-case hexadecimal characters: the relay answers the upgrade with 400.
    RelayClient agent(relay.url(), QStringLiteral("Not-A-Room"), PeerRole::agent, scaledBy(scale));
    EventLog log(&agent);
    QSignalSpy scheduled(&agent, &RelayClient::reconnectScheduled);
    QElapsedTimer clock;
    clock.start();
    agent.connectToRelay();
    QTRY_VERIFY_WITH_TIMEOUT(scheduled.size() >= 6, waitMs(30000));
    const qint64 elapsed = clock.elapsed();

    // Each refused attempt is one failure: one event, one step of the back-off.
    QCOMPARE(log.count(Kind::connected), 0);
    QCOMPARE(log.count(Kind::disconnected), scheduled.size());
    for (const auto& event : log.events)
        QVERIFY(event.error.has_value() && !event.error->isEmpty());
    qint64 sumOfWaits = 0;
    for (int i = 0; i < scheduled.size(); ++i) {
        QCOMPARE(scheduled.at(i).at(0).toInt(), i);
        const qint64 delay = scheduled.at(i).at(1).toLongLong();
        QVERIFY(delayWithinSchedule(i, delay, scale));
        if (i > 0)
            QVERIFY(delay >= scheduled.at(i - 1).at(1).toLongLong() - 10); // growing, give or take the jitter
        if (i + 1 < scheduled.size())
            sumOfWaits += delay;
    }
    // The attempts really waited: the sixth failure cannot come before the first five delays passed.
    QVERIFY2(elapsed >= sumOfWaits, qPrintable(QStringLiteral("%1 < %2").arg(elapsed).arg(sumOfWaits)));
}

void TestRelayClient::heartbeatKeepsIdleConnectionOpen()
{
    constexpr double scale = 0.01; // a ping every 250 ms
    RelayProcess relay;
    QVERIFY2(relay.start(), qPrintable(relay.errorText()));
    Pairing pairing;
    RelayClient agent(relay.url(), pairing.room, PeerRole::agent, scaledBy(scale));
    EventLog log(&agent);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 1, waitMs(10000));
    // Many heartbeat periods: every ping is answered, so nothing happens.
    QTest::qWait(2000);
    QCOMPARE(log.count(Kind::disconnected), 0);
    QVERIFY(agent.isOpen());
}

void TestRelayClient::unansweredPingReconnects()
{
    constexpr double scale = 0.01; // a ping every 250 ms, handshake timeout 600 ms
    RelayProcess relay;
    QVERIFY2(relay.start(), qPrintable(relay.errorText()));
    Pairing pairing;
    RelayClient agent(relay.url(), pairing.room, PeerRole::agent, scaledBy(scale));
    EventLog log(&agent);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 1, waitMs(10000));

    // The relay's sockets stay open but nothing answers: only the missing pong tells.
    relay.pause();
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(log.count(Kind::disconnected) >= 1, waitMs(10000));
    // The pong has until the next ping is due, so the loss is noticed after one period at the earliest.
    QVERIFY(clock.elapsed() >= 250 - 50);
    const auto lost = std::find_if(
        log.events.cbegin(), log.events.cend(), [](const auto& e) { return e.kind == Kind::disconnected; });
    QVERIFY(lost->error.has_value());
    QVERIFY2(lost->error->contains(QStringLiteral("ping")), qPrintable(*lost->error));

    relay.resume();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 2, waitMs(20000));
}

namespace {
// A self-signed certificate for 127.0.0.1, made by the openssl program.
bool makeCertificate(const QTemporaryDir& dir, QString* error)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost"),
            QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"),
            QStringLiteral("-keyout"), dir.filePath(QStringLiteral("key.pem")), QStringLiteral("-out"),
            dir.filePath(QStringLiteral("cert.pem")) });
    if (!openssl.waitForFinished(waitMs(30000)) || openssl.exitCode() != 0) {
        *error = QString::fromUtf8(openssl.readAllStandardError());
        return false;
    }
    return true;
}
} // namespace

void TestRelayClient::wssWithOwnCertificate()
{
    QTemporaryDir dir;
    QString error;
    QVERIFY2(makeCertificate(dir, &error), qPrintable(error));
    RelayProcess relay;
    QVERIFY2(relay.start(0,
                 { QStringLiteral("--tls-cert"), dir.filePath(QStringLiteral("cert.pem")), QStringLiteral("--tls-key"),
                     dir.filePath(QStringLiteral("key.pem")) }),
        qPrintable(relay.errorText()));
    RelayClient::Options options;
    options.extraCaCertificates = QSslCertificate::fromPath(dir.filePath(QStringLiteral("cert.pem")));
    QCOMPARE(options.extraCaCertificates.size(), 1);

    Pairing pairing;
    RelayClient agent(relay.url(true), pairing.room, PeerRole::agent, options);
    RelayClient controller(relay.url(true), pairing.room, PeerRole::controller, options);
    EventLog agentLog(&agent);
    EventLog controllerLog(&controller);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(agentLog.count(Kind::connected), 1, waitMs(10000));
    controller.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(agentLog.envelopes(Envelope::Kind::peerJoin).size(), 1, waitMs(10000));
    controller.sendMessage(PeerMessage::requestSnapshot(), pairing.key);
    QTRY_COMPARE_WITH_TIMEOUT(agentLog.messages(pairing.key).size(), 1, waitMs(10000));
    QCOMPARE(agentLog.messages(pairing.key).first().type, PeerMessage::MessageType::requestSnapshot);
}

void TestRelayClient::wssWithUntrustedCertificateFails()
{
    QTemporaryDir dir;
    QString error;
    QVERIFY2(makeCertificate(dir, &error), qPrintable(error));
    RelayProcess relay;
    QVERIFY2(relay.start(0,
                 { QStringLiteral("--tls-cert"), dir.filePath(QStringLiteral("cert.pem")), QStringLiteral("--tls-key"),
                     dir.filePath(QStringLiteral("key.pem")) }),
        qPrintable(relay.errorText()));
    Pairing pairing;
    RelayClient agent(relay.url(true), pairing.room, PeerRole::agent, scaledBy(0.02));
    EventLog log(&agent);
    agent.connectToRelay();
    QTRY_VERIFY_WITH_TIMEOUT(log.count(Kind::disconnected) >= 2, waitMs(10000));
    QCOMPARE(log.count(Kind::connected), 0);
    QVERIFY(log.events.first().error.has_value());
}

void TestRelayClient::stalledRelayBoundsBacklogAndReconnects_data()
{
    QTest::addColumn<bool>("tls");
    QTest::newRow("ws") << false;
    // TLS records waiting for the network sit in a buffer of their own.
    QTest::newRow("wss") << true;
}

// A relay that stops reading while the agent keeps sending: the client's backlog
// never passes the limit, however much is sent, and the connection is ended and
// dialled again instead of growing without bound or dropping messages unnoticed.
void TestRelayClient::stalledRelayBoundsBacklogAndReconnects()
{
    QFETCH(bool, tls);
    QTemporaryDir dir;
    QStringList relayArguments;
    RelayClient::Options options;
    if (tls) {
        QString error;
        QVERIFY2(makeCertificate(dir, &error), qPrintable(error));
        relayArguments = { QStringLiteral("--tls-cert"), dir.filePath(QStringLiteral("cert.pem")),
            QStringLiteral("--tls-key"), dir.filePath(QStringLiteral("key.pem")) };
        options.extraCaCertificates = QSslCertificate::fromPath(dir.filePath(QStringLiteral("cert.pem")));
    }
    RelayProcess relay;
    QVERIFY2(relay.start(0, relayArguments), qPrintable(relay.errorText()));
    constexpr qint64 limit = 1024 * 1024;
    options.maxPendingBytes = limit;
    Pairing pairing;
    RelayClient agent(relay.url(tls), pairing.room, PeerRole::agent, options);
    EventLog log(&agent);
    QSignalSpy scheduled(&agent, &RelayClient::reconnectScheduled);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 1, waitMs(10000));

    relay.pause();
    constexpr int payloadBytes = 128 * 1024;
    const Flood flood = floodUntilOverflow(agent, payloadBytes, 512 * limit);
    QCOMPARE(agent.backlogOverflows(), 1);
    // Far more than the limit went out (the kernel's buffers took their share), yet
    // the backlog never held more than the limit plus the one envelope that met it.
    QVERIFY2(flood.handed > 4 * limit, qPrintable(QString::number(flood.handed)));
    QVERIFY2(flood.largestBacklog <= limit + payloadBytes + 1024, qPrintable(QString::number(flood.largestBacklog)));
    QVERIFY2(flood.largestBacklog > limit / 2, qPrintable(QString::number(flood.largestBacklog)));
    QCOMPARE(agent.pendingBytes(), 0);

    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::disconnected), 1, waitMs(10000));
    const auto lost = std::find_if(
        log.events.cbegin(), log.events.cend(), [](const auto& e) { return e.kind == Kind::disconnected; });
    QVERIFY(lost->error.has_value());
    QVERIFY2(lost->error->contains(QStringLiteral("bytes waiting")), qPrintable(*lost->error));
    QCOMPARE(scheduled.size(), 1);
    QCOMPARE(scheduled.first().at(0).toInt(), 0);

    // The relay reads again: the client is back on the normal schedule and its messages arrive.
    relay.resume();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 2, waitMs(20000));
    RelayClient controller(relay.url(tls), pairing.room, PeerRole::controller, options);
    EventLog controllerLog(&controller);
    controller.connectToRelay();
    QTRY_VERIFY_WITH_TIMEOUT(peerJoinAfterLatestOpen(log), waitMs(10000));
    agent.sendMessage(PeerMessage::notify(QUuid::createUuid(), QStringLiteral("after")), pairing.key);
    QTRY_COMPARE_WITH_TIMEOUT(controllerLog.messages(pairing.key).size(), 1, waitMs(10000));
    QCOMPARE(agent.backlogOverflows(), 1);
}

void TestRelayClient::requestCarriesPathAndHeaders_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("query");
    QTest::newRow("no path") << QString() << "/connect" << QString();
    QTest::newRow("trailing slash") << "/"
                                    << "/connect" << QString();
    QTest::newRow("prefix") << "/wl"
                            << "/wl/connect" << QString();
    QTest::newRow("prefix and slash") << "/wl/"
                                      << "/wl/connect" << QString();
    QTest::newRow("query") << "/?token=a%2Fb%3D"
                           << "/connect"
                           << "token=a%2Fb%3D";
}

void TestRelayClient::requestCarriesPathAndHeaders()
{
    QFETCH(QString, suffix);
    QFETCH(QString, path);
    QFETCH(QString, query);
    ScriptedRelay server;
    Pairing pairing;
    RelayClient controller(QUrl(server.url().toString() + suffix), pairing.room, PeerRole::controller);
    EventLog log(&controller);
    controller.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 1, waitMs(10000));
    QCOMPARE(server.requests.size(), 1);
    const QNetworkRequest& request = server.requests.first();
    QCOMPARE(request.url().path(), path);
    QCOMPARE(request.url().query(QUrl::FullyEncoded), query);
    QCOMPARE(request.rawHeader("X-WL-Room"), pairing.room.toUtf8());
    QCOMPARE(request.rawHeader("X-WL-Role"), QByteArray("controller"));
}

void TestRelayClient::connectTwiceOpensOneConnection()
{
    ScriptedRelay server;
    Pairing pairing;
    RelayClient agent(server.url(), pairing.room, PeerRole::agent);
    EventLog log(&agent);
    agent.connectToRelay();
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 1, waitMs(10000));
    // A round trip after the open: a second dial made at the same moment would be in by now.
    agent.sendMessage(PeerMessage::requestSnapshot(), pairing.key);
    QTRY_COMPARE_WITH_TIMEOUT(server.received.size(), 1, waitMs(10000));
    server.sockets.first()->sendTextMessage(QStringLiteral(R"({"v":1,"kind":"pong"})"));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::envelope), 1, waitMs(10000));
    agent.connectToRelay();
    QCOMPARE(server.sockets.size(), 1);
    QCOMPARE(log.count(Kind::connected), 1);
}

void TestRelayClient::oversizeMessageIsALostConnection_data()
{
    QTest::addColumn<bool>("binary");
    QTest::addColumn<int>("frameBytes"); // how the relay cuts the message into frames
    QTest::newRow("text in many frames") << false << 512 * 1024;
    QTest::newRow("binary in many frames") << true << 512 * 1024;
    QTest::newRow("text in one frame") << false << 64 * 1024 * 1024;
}

void TestRelayClient::oversizeMessageIsALostConnection()
{
    QFETCH(bool, binary);
    QFETCH(int, frameBytes);
    ScriptedRelay server;
    Pairing pairing;
    RelayClient::Options options;
    options.timeScale = 0.1;
    RelayClient agent(server.url(), pairing.room, PeerRole::agent, options);
    EventLog log(&agent);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 1, waitMs(10000));
    QWebSocket* socket = server.sockets.first();
    socket->setOutgoingFrameSize(quint64(frameBytes));
    // Up to the limit a message is taken (this one does not decode and is dropped).
    const QByteArray atLimit(RelayClient::defaultMaxIncomingMessageBytes, 'x');
    if (binary)
        socket->sendBinaryMessage(atLimit);
    else
        socket->sendTextMessage(QString::fromLatin1(atLimit));
    socket->sendTextMessage(QStringLiteral(R"({"v":1,"kind":"pong"})"));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::envelope), 1, waitMs(20000));
    QCOMPARE(log.count(Kind::disconnected), 0);

    const QByteArray over(RelayClient::defaultMaxIncomingMessageBytes + 1, 'x');
    if (binary)
        socket->sendBinaryMessage(over);
    else
        socket->sendTextMessage(QString::fromLatin1(over));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::disconnected), 1, waitMs(20000));
    const auto lost = std::find_if(log.events.cbegin(), log.events.cend(),
        [](const RelayClient::Event& event) { return event.kind == Kind::disconnected; });
    // Counted by the client: a failure; one oversize frame: the socket's own close, "too much data".
    QVERIFY2(
        (lost->error && !lost->error->isEmpty()) || lost->closeCode == int(QWebSocketProtocol::CloseCodeTooMuchData),
        "an oversize message ends the connection");
    // And the client dials again as after any lost connection.
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 2, waitMs(20000));
}

void TestRelayClient::relayCloseCodeIsReported()
{
    ScriptedRelay server;
    Pairing pairing;
    RelayClient::Options options;
    options.timeScale = 0.1;
    RelayClient agent(server.url(), pairing.room, PeerRole::agent, options);
    EventLog log(&agent);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 1, waitMs(10000));
    server.sockets.first()->close(QWebSocketProtocol::CloseCode(4000), QStringLiteral("replaced"));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::disconnected), 1, waitMs(10000));
    const auto lost = std::find_if(log.events.cbegin(), log.events.cend(),
        [](const RelayClient::Event& event) { return event.kind == Kind::disconnected; });
    QCOMPARE(lost->closeCode, std::optional<int>(4000));
    QCOMPARE(lost->error, std::optional<QString>());
}

void TestRelayClient::undecodableFramesAreDroppedConnectionKept()
{
    ScriptedRelay server;
    Pairing pairing;
    RelayClient agent(server.url(), pairing.room, PeerRole::agent);
    EventLog log(&agent);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(server.sockets.size(), 1, waitMs(10000));
    QWebSocket* socket = server.sockets.first();
    QByteArray noise(512, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);

    socket->sendTextMessage(QStringLiteral("garbage"));
    socket->sendTextMessage(QStringLiteral("[1,2,3]"));
    socket->sendTextMessage(QStringLiteral(R"([{"v":1,"kind":"welcome"}])"));
    socket->sendTextMessage(QStringLiteral(R"({"v":1})"));
    socket->sendTextMessage(QStringLiteral(R"({"v":1,"kind":"registerDevice"})"));
    socket->sendTextMessage(QString());
    socket->sendBinaryMessage(noise);
    socket->sendBinaryMessage(QByteArrayLiteral(R"({"v":1,"kind":"peerJoin","role":"controller"})"));
    socket->sendTextMessage(QStringLiteral(R"({"v":1,"kind":"welcome","online":false,"extra":[1]})"));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::envelope), 2, waitMs(10000));
    QCOMPARE(log.events.size(), 3); // connected, then the two envelopes
    QCOMPARE(log.events.at(0).kind, Kind::connected);
    QCOMPARE(log.events.at(1).envelope->kind, Envelope::Kind::peerJoin);
    QCOMPARE(log.events.at(2).envelope->kind, Envelope::Kind::welcome);
    QCOMPARE(log.events.at(2).envelope->online, false);

    // Still the same connection, still working both ways.
    agent.sendEnvelope(Envelope::message(PeerRole::agent, QStringLiteral("AAAA")));
    QTRY_COMPARE_WITH_TIMEOUT(server.received.size(), 1, waitMs(10000));
    QCOMPARE(server.sockets.size(), 1);
    QVERIFY(agent.isOpen());
    QCOMPARE(log.count(Kind::disconnected), 0);
    const auto sent = Envelope::decode(server.received.first().toUtf8());
    QVERIFY(sent.has_value());
    QCOMPARE(*sent, Envelope::message(PeerRole::agent, QStringLiteral("AAAA")));
}

void TestRelayClient::relayCloseReportsNoErrorAndReconnects()
{
    ScriptedRelay server;
    Pairing pairing;
    RelayClient agent(server.url(), pairing.room, PeerRole::agent, scaledBy(0.02));
    EventLog log(&agent);
    QSignalSpy scheduled(&agent, &RelayClient::reconnectScheduled);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 1, waitMs(10000));
    server.sockets.first()->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("bye"));
    QTRY_VERIFY_WITH_TIMEOUT(log.count(Kind::disconnected) >= 1, waitMs(10000));
    const auto first = std::find_if(
        log.events.cbegin(), log.events.cend(), [](const auto& e) { return e.kind == Kind::disconnected; });
    QVERIFY2(!first->error.has_value(), qPrintable(first->error.value_or(QString())));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 2, waitMs(10000));
    QCOMPARE(server.sockets.size(), 2);
    QCOMPARE(scheduled.first().at(0).toInt(), 0);
}

void TestRelayClient::tearDownClosesWithGoingAway()
{
    ScriptedRelay server;
    Pairing pairing;
    {
        RelayClient agent(server.url(), pairing.room, PeerRole::agent);
        EventLog log(&agent);
        QSignalSpy closed(&agent, &RelayClient::closed);
        agent.connectToRelay();
        QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 1, waitMs(10000));
        agent.disconnectFromRelay();
        // Told once the close went through (what a program about to exit waits for).
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, waitMs(10000));
        QTRY_COMPARE_WITH_TIMEOUT(server.closeCodes.size(), 1, waitMs(10000));
        QCOMPARE(server.closeCodes.first(), QWebSocketProtocol::CloseCodeGoingAway);
        // Nothing open: told at once.
        agent.disconnectFromRelay();
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 2, waitMs(10000));

        agent.connectToRelay();
        QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 2, waitMs(10000));
    }
    // Destroyed while open: the relay hears 1001 too.
    QTRY_COMPARE_WITH_TIMEOUT(server.closeCodes.size(), 2, waitMs(10000));
    QCOMPARE(server.closeCodes.at(1), QWebSocketProtocol::CloseCodeGoingAway);
}

void TestRelayClient::handshakeTimeoutIsEnforced()
{
    // Accepts TCP and never answers the upgrade.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    QList<QTcpSocket*> accepted;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket* s = silent.nextPendingConnection())
            accepted.append(s);
    });
    constexpr double scale = 0.01; // 60 s → 600 ms
    Pairing pairing;
    RelayClient agent(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(silent.serverPort())), pairing.room, PeerRole::agent,
        scaledBy(scale));
    EventLog log(&agent);
    QElapsedTimer clock;
    clock.start();
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::disconnected), 1, waitMs(10000));
    QVERIFY(clock.elapsed() >= 600 - 20);
    QVERIFY(log.events.first().error.has_value());
    // And it tries again.
    QTRY_VERIFY_WITH_TIMEOUT(accepted.size() >= 2, waitMs(10000));
    agent.disconnectFromRelay();
}

void TestRelayClient::noEventAfterDisconnectEvenFromPendingFailure()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    QList<QTcpSocket*> accepted;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket* s = silent.nextPendingConnection())
            accepted.append(s);
    });
    Pairing pairing;
    RelayClient agent(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(silent.serverPort())), pairing.room, PeerRole::agent,
        scaledBy(0.001));
    EventLog log(&agent);
    QSignalSpy scheduled(&agent, &RelayClient::reconnectScheduled);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, waitMs(10000));
    agent.disconnectFromRelay();
    // The attempt that was under way now fails on the wire.
    accepted.first()->abort();
    // With a 1000-fold faster clock, an active client would have failed and redialled long before.
    QTest::qWait(500);
    QCOMPARE(log.events.size(), 0);
    QCOMPARE(scheduled.size(), 0);
    QCOMPARE(accepted.size(), 1);
}

void TestRelayClient::disconnectInHandlerDropsQueuedEvents()
{
    ScriptedRelay server;
    Pairing pairing;
    RelayClient agent(server.url(), pairing.room, PeerRole::agent);
    EventLog log(&agent);
    agent.connectToRelay();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), 1, waitMs(10000));
    // Two frames that arrive together are delivered from one turn of the event loop;
    // a handler that disconnects on the first must not see the second.
    bool disconnectedInHandler = false;
    connect(&agent, &RelayClient::relayEvent, this, [&](const RelayClient::Event& event) {
        if (event.kind == Kind::envelope && !disconnectedInHandler) {
            disconnectedInHandler = true;
            agent.disconnectFromRelay();
        }
    });
    QWebSocket* socket = server.sockets.first();
    socket->sendTextMessage(QStringLiteral(R"({"v":1,"kind":"ping"})"));
    socket->sendTextMessage(QStringLiteral(R"({"v":1,"kind":"pong"})"));
    socket->flush();
    QTRY_VERIFY_WITH_TIMEOUT(disconnectedInHandler, waitMs(10000));
    QTRY_COMPARE_WITH_TIMEOUT(server.closeCodes.size(), 1, waitMs(10000));
    QCOMPARE(log.count(Kind::envelope), 1);
    QCOMPARE(log.count(Kind::disconnected), 0);
}

// A server that takes every connection and never reads: each connection overflows
// soon after it opens. Were each open to reset the back-off, the client would
// redial every half second for ever; overflows in a row step it up instead.
void TestRelayClient::deafServerOverflowsBackOffLikeFailures()
{
    constexpr double scale = 0.2; // back-off 100, 200, 400 ms; heartbeat 5 s
    DeafServer server;
    RelayClient::Options options = scaledBy(scale);
    options.maxPendingBytes = 256 * 1024;
    Pairing pairing;
    RelayClient agent(server.url(), pairing.room, PeerRole::agent, options);
    EventLog log(&agent);
    QSignalSpy scheduled(&agent, &RelayClient::reconnectScheduled);
    agent.connectToRelay();
    for (int round = 1; round <= 3; ++round) {
        QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::connected), round, waitMs(10000));
        floodUntilOverflow(agent, 64 * 1024, 1024 * options.maxPendingBytes);
        QCOMPARE(agent.backlogOverflows(), round);
    }
    QCOMPARE(server.upgraded, 3);
    QCOMPARE(scheduled.size(), 3);
    for (int i = 0; i < scheduled.size(); ++i) {
        QCOMPARE(scheduled.at(i).at(0).toInt(), i);
        QVERIFY(delayWithinSchedule(i, scheduled.at(i).at(1).toLongLong(), scale));
    }
    QTRY_COMPARE_WITH_TIMEOUT(log.count(Kind::disconnected), 3, waitMs(10000));
    agent.disconnectFromRelay();
}

QTEST_GUILESS_MAIN(TestRelayClient)
#include "TestRelayClient.moc"
