#include "RelayClient.h"

#include "ContentKey.h"
#include "PeerMessage.h"
#include "ReconnectSchedule.h"
#include "RemoteKitLogging.h"

#include <QMetaObject>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QStringDecoder>
#include <QWebSocket>

#include <cmath>

namespace Wardlamp {

// One connection attempt and, once the handshake completes, the open connection.
// Owned by the RelayClient; its socket outlives it only long enough to finish a
// closing handshake the client started.
struct RelayConnection {
    RelayConnection(QObject* owner, quint64 number)
        : client(owner)
        , serial(number)
        , socket(new QWebSocket(QString(), QWebSocketProtocol::VersionLatest))
    {
        handshakeTimer.setSingleShot(true);
        handshakeTimer.setTimerType(Qt::PreciseTimer);
    }

    ~RelayConnection()
    {
        QObject::disconnect(socket, nullptr, client, nullptr);
        if (socket->state() == QAbstractSocket::UnconnectedState) {
            socket->deleteLater();
            return;
        }
        // Let a closing handshake we started finish, within a bound.
        QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(lingerMs, socket, &QObject::deleteLater);
    }

    RelayConnection(const RelayConnection&) = delete;
    RelayConnection& operator=(const RelayConnection&) = delete;

    static constexpr int lingerMs = 3000;

    QObject* client;
    quint64 serial;
    QWebSocket* socket;
    QTimer handshakeTimer;
    // The TLS socket inside `socket` (wss:// only), whose encrypted records waiting
    // for the network are part of the send backlog.
    QPointer<QSslSocket> tls;
    bool opened = false;
    bool closedByUs = false;
    bool closeSignalled = false;
    bool errorSignalled = false;
    bool awaitingPong = false;
    // Bytes of the message being received, counted frame by frame.
    qint64 incomingBytes = 0;
    bool oversize = false;
    QString tlsErrors;
};

RelayClient::RelayClient(QUrl endpoint, QString room, PeerRole role, QObject* parent)
    : RelayClient(std::move(endpoint), std::move(room), role, Options(), parent)
{
}

RelayClient::RelayClient(QUrl endpoint, QString room, PeerRole role, Options options, QObject* parent)
    : QObject(parent)
    , m_endpoint(std::move(endpoint))
    , m_room(std::move(room))
    , m_role(role)
    , m_options(std::move(options))
{
    if (!(m_options.timeScale > 0) || !std::isfinite(m_options.timeScale))
        m_options.timeScale = 1.0;
    if (m_options.maxPendingBytes < 1)
        m_options.maxPendingBytes = defaultMaxPendingBytes;
    if (m_options.maxIncomingMessageBytes < 1)
        m_options.maxIncomingMessageBytes = defaultMaxIncomingMessageBytes;
    // Zero leeway: the ping goes out on the period, not when convenient.
    m_heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_heartbeat, &QTimer::timeout, this, &RelayClient::handleHeartbeat);
    m_reconnectTimer.setSingleShot(true);
    m_reconnectTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_reconnectTimer, &QTimer::timeout, this, [this] {
        if (m_active && !m_current)
            openSocket();
    });
}

RelayClient::~RelayClient()
{
    m_active = false;
    m_pending.clear();
    tearDown(std::nullopt, false);
    m_previous.reset();
}

QUrl RelayClient::connectionUrl(const QUrl& endpoint)
{
    // The query stays: relays behind an authenticating proxy take a token there.
    QUrl url = endpoint.adjusted(QUrl::RemoveFragment);
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/connect"));
    return url;
}

bool RelayClient::isOpen() const
{
    return m_current && m_current->opened;
}

qint64 RelayClient::pendingBytes() const
{
    if (!isOpen())
        return 0;
    // QWebSocket::bytesToWrite() is its socket's write buffer: everything for ws://,
    // but for wss:// only the plaintext not yet encrypted. QSslSocket moves that into
    // TLS records at once and keeps the records in a buffer of its own, which is
    // where a stalled connection's bytes pile up. QWebSocket has no accessor for its
    // socket; it is its direct child (pinned by the backlog tests, ws and wss).
    const RelayConnection* c = m_current.get();
    return c->socket->bytesToWrite() + (c->tls ? c->tls->encryptedBytesToWrite() : 0);
}

void RelayClient::connectToRelay()
{
    if (m_active)
        return;
    m_active = true;
    openSocket();
}

void RelayClient::disconnectFromRelay()
{
    m_active = false;
    m_reconnectTimer.stop();
    tearDown(std::nullopt, false);
    m_pending.clear();
    // The connection just torn down (or an earlier one still closing) is m_previous.
    QWebSocket* closing = m_previous ? m_previous->socket : nullptr;
    if (closing && closing->state() != QAbstractSocket::UnconnectedState) {
        // Cut when the connection is dropped (a new connectToRelay(), or destruction).
        QObject::connect(closing, &QWebSocket::disconnected, this, &RelayClient::closed,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
    } else {
        QMetaObject::invokeMethod(this, &RelayClient::closed, Qt::QueuedConnection);
    }
}

int RelayClient::scaled(int ms) const
{
    return std::max(1, static_cast<int>(std::lround(ms * m_options.timeScale)));
}

void RelayClient::openSocket()
{
    if (!m_active || m_current)
        return;
    // This attempt supersedes every other pending one: one chain of attempts at a time.
    m_reconnectTimer.stop();
    m_previous.reset();

    auto connection = std::make_unique<RelayConnection>(this, ++m_nextSerial);
    RelayConnection* c = connection.get();
    const quint64 serial = c->serial;
    QWebSocket* socket = c->socket;
    // No incoming message limit set on the socket: with one set, Qt 6.4.2 corrupts its
    // heap when a message exceeds it (seen with a 17 MiB message from a scripted
    // server). The client counts each message's frames itself instead (below), and
    // a single frame is held to the same bound by the socket's frame limit.
    socket->setMaxAllowedIncomingFrameSize(quint64(m_options.maxIncomingMessageBytes));

    // Every socket signal is handled from the event loop, never inside the socket's own
    // processing: tearing a socket down from within its signal emission corrupts its
    // state. A queued call names its connection by serial, so one that arrives after the
    // connection was dropped finds nothing and does nothing.
    constexpr auto queued = Qt::QueuedConnection;
    QObject::connect(
        socket, &QWebSocket::connected, this, [this, serial] { handleOpened(serial); }, queued);
    QObject::connect(
        socket, &QWebSocket::disconnected, this,
        [this, serial] { handleFailure(serial, Signal::closed, std::nullopt); }, queued);
    QObject::connect(
        socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
        [this, serial](QAbstractSocket::SocketError) { handleFailure(serial, Signal::error, QString()); }, queued);
    QObject::connect(socket, &QWebSocket::sslErrors, this, [c](const QList<QSslError>& errors) {
        QStringList texts;
        for (const QSslError& error : errors)
            texts.append(error.errorString());
        c->tlsErrors = texts.join(QStringLiteral("; "));
    });
    // Counted as each frame arrives, before the socket gathers the next ones; the
    // connection is ended from the event loop, never inside the socket's own processing.
    auto countFrame = [this, c, serial](qint64 bytes, bool isLastFrame) {
        if (c->oversize)
            return;
        c->incomingBytes += bytes;
        if (c->incomingBytes > m_options.maxIncomingMessageBytes) {
            c->oversize = true;
            QMetaObject::invokeMethod(
                this,
                [this, serial] {
                    handleFailure(serial, Signal::error,
                        tr("the relay sent a message larger than %1 bytes").arg(m_options.maxIncomingMessageBytes));
                },
                Qt::QueuedConnection);
            return;
        }
        if (isLastFrame)
            c->incomingBytes = 0;
    };
    QObject::connect(socket, &QWebSocket::textFrameReceived, this,
        [countFrame](const QString& frame, bool isLastFrame) { countFrame(frame.size(), isLastFrame); });
    QObject::connect(socket, &QWebSocket::binaryFrameReceived, this,
        [countFrame](const QByteArray& frame, bool isLastFrame) { countFrame(frame.size(), isLastFrame); });
    QObject::connect(
        socket, &QWebSocket::textMessageReceived, this,
        [this, serial](const QString& text) { handleFrame(serial, text.toUtf8()); }, queued);
    QObject::connect(
        socket, &QWebSocket::binaryMessageReceived, this,
        [this, serial](const QByteArray& bytes) { handleFrame(serial, bytes); }, queued);
    QObject::connect(
        socket, &QWebSocket::pong, this,
        [this, serial] {
            if (RelayConnection* current = connectionFor(serial))
                current->awaitingPong = false;
        },
        queued);
    // The handshake has no time limit of its own in this Qt version: enforce the request timeout.
    QObject::connect(&c->handshakeTimer, &QTimer::timeout, this, [this, serial] {
        handleFailure(serial, Signal::error, tr("the relay did not complete the handshake in time"));
    });

    QNetworkRequest request(connectionUrl(m_endpoint));
    request.setRawHeader(QByteArrayLiteral("X-WL-Room"), m_room.toUtf8());
    request.setRawHeader(QByteArrayLiteral("X-WL-Role"), QByteArray(rawValue(m_role).latin1()));
    if (!m_options.extraCaCertificates.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + m_options.extraCaCertificates);
        socket->setSslConfiguration(tls);
    }

    m_current = std::move(connection);
    c->handshakeTimer.start(scaled(requestTimeoutMs));
    qCDebug(lcRemoteKit) << "relay: connecting to" << request.url().toDisplayString();
    socket->open(request);
}

RelayConnection* RelayClient::connectionFor(quint64 serial) const
{
    if (m_current && m_current->serial == serial)
        return m_current.get();
    if (m_previous && m_previous->serial == serial)
        return m_previous.get();
    return nullptr;
}

void RelayClient::handleOpened(quint64 serial)
{
    RelayConnection* connection = connectionFor(serial);
    if (!m_active || !connection || connection != m_current.get() || connection->opened)
        return;
    connection->opened = true;
    connection->handshakeTimer.stop();
    connection->tls = connection->socket->findChild<QSslSocket*>(QString(), Qt::FindDirectChildrenOnly);
    m_reconnectAttempt = 0;
    m_heartbeat.start(scaled(heartbeatIntervalMs));
    qCDebug(lcRemoteKit) << "relay: connected";
    report(Event::connected());
}

void RelayClient::handleFailure(quint64 serial, Signal signal, std::optional<QString> error)
{
    RelayConnection* connection = connectionFor(serial);
    if (!m_active || !connection)
        return;
    const bool isCurrent = connection == m_current.get();
    // A second signal of the connection torn down last still counts, but only while no
    // newer connection exists: a late failure must never tear down its successor.
    const bool isLastTornDown = connection == m_previous.get() && !m_current;
    if (!isCurrent && !isLastTornDown)
        return;
    if (signal == Signal::closed && connection->closedByUs)
        return;
    // A connection that never opened fails once, however the failure is reported.
    if (!connection->opened && (connection->closeSignalled || connection->errorSignalled))
        return;
    bool& seen = signal == Signal::closed ? connection->closeSignalled : connection->errorSignalled;
    if (seen)
        return;
    seen = true;
    if (signal == Signal::error && error && error->isEmpty()) {
        error = connection->socket->errorString();
        if (!connection->tlsErrors.isEmpty())
            *error += QStringLiteral(" (") + connection->tlsErrors + QLatin1Char(')');
    }
    if (signal == Signal::closed && !connection->opened)
        error = tr("connection closed before the handshake completed");
    std::optional<int> closeCode;
    if (signal == Signal::closed && connection->opened)
        closeCode = int(connection->socket->closeCode());

    qCDebug(lcRemoteKit) << "relay: connection lost:" << error.value_or(QStringLiteral("closed by the relay"));
    tearDown(std::move(error), true, closeCode);
    scheduleReconnect();
}

void RelayClient::handleFrame(quint64 serial, const QByteArray& bytes)
{
    if (!m_active || !m_current || m_current->serial != serial)
        return;
    std::optional<Envelope> envelope = Envelope::decode(bytes);
    if (!envelope)
        return; // not one envelope: dropped, the connection stays
    report(Event::received(std::move(*envelope)));
}

void RelayClient::handleHeartbeat()
{
    RelayConnection* c = m_current.get();
    if (!m_active || !c || !c->opened)
        return;
    // This connection has lived through a heartbeat period: overflows before it are
    // no longer "in a row".
    m_overflowStreak = 0;
    if (c->awaitingPong) {
        // The previous ping was never answered: the relay is gone or the path is dead.
        handleFailure(c->serial, Signal::error, tr("the relay did not answer a ping"));
        return;
    }
    c->awaitingPong = true;
    c->socket->ping();
}

void RelayClient::tearDown(std::optional<QString> error, bool reportIt, std::optional<int> closeCode)
{
    m_heartbeat.stop();
    if (m_current) {
        RelayConnection* c = m_current.get();
        c->handshakeTimer.stop();
        c->closedByUs = true;
        m_previous = std::move(m_current);
        // The socket's own echo of this close (its `disconnected`) is not a failure: closedByUs.
        if (c->opened)
            c->socket->close(QWebSocketProtocol::CloseCodeGoingAway);
        else
            c->socket->abort();
    }
    if (reportIt)
        report(Event::disconnected(std::move(error), closeCode));
}

void RelayClient::scheduleReconnect()
{
    if (!m_active)
        return;
    const int attempt = m_reconnectAttempt++;
    const auto delay = ReconnectSchedule::delay(attempt, ReconnectSchedule::draw(), m_options.timeScale);
    // Several signals of one failure each schedule; the earliest attempt wins and the
    // later ones would find it under way, so one timer at the earliest deadline is kept.
    if (!m_reconnectTimer.isActive() || m_reconnectTimer.remainingTime() > delay.count())
        m_reconnectTimer.start(delay);
    Q_EMIT reconnectScheduled(attempt, delay.count());
}

void RelayClient::sendEnvelope(const Envelope& envelope)
{
    if (!m_current || !m_current->opened)
        return; // nothing is kept for a later connection
    const QByteArray bytes = envelope.encode();
    if (bytes.isEmpty())
        return;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return;
    qint64 pending = pendingBytes();
    if (pending > 0 && pending + bytes.size() > m_options.maxPendingBytes) {
        // The socket writes only from the event loop, so a burst sent in one go counts
        // in full although a healthy connection takes most of it at once: hand what
        // the network accepts now to the kernel before judging.
        m_current->socket->flush();
        pending = pendingBytes();
        if (pending > 0 && pending + bytes.size() > m_options.maxPendingBytes) {
            handleBacklogOverflow(pending, bytes.size());
            return;
        }
    }
    m_current->socket->sendTextMessage(text);
}

// Why the connection ends instead of dropping envelopes until the backlog shrinks:
// every envelope matters to the peer's picture. The agent counts a snapshot as
// delivered once sent and sends the next only when the state changes; log lines
// carry no sequence a controller could find a gap by; a lost commandAck makes the
// controller report a command that ran as unacknowledged; a lost alert is gone.
// The client cannot repair any of that, but its owner repairs all of it on every
// `connected` (the agent sends a fresh snapshot, and the relay re-announces each
// controller, which brings the recent log lines). So a relay that cannot keep up
// costs a short outage that every side sees, never a silent hole.
void RelayClient::handleBacklogOverflow(qint64 pending, qint64 frameBytes)
{
    ++m_backlogOverflows;
    qCWarning(lcRemoteKit,
        "relay: %lld bytes still unsent (limit %lld); not queueing a %lld-byte message, reconnecting",
        qlonglong(pending), qlonglong(m_options.maxPendingBytes), qlonglong(frameBytes));
    // Several overflows in a row mean the relay takes connections but does not read
    // them: back off as after failed attempts rather than from the first step.
    m_reconnectAttempt = std::max(m_reconnectAttempt, m_overflowStreak);
    ++m_overflowStreak;
    tearDown(tr("the relay is not taking the messages sent to it (%1 bytes waiting)").arg(pending), true);
    scheduleReconnect();
}

void RelayClient::sendMessage(
    const PeerMessage& message, const ContentKey& key, bool cache, const std::optional<QString>& tag)
{
    auto payload = message.sealed(key);
    if (!payload)
        return;
    sendEnvelope(Envelope::message(m_role, std::move(*payload), cache, tag));
}

void RelayClient::report(Event event)
{
    m_pending.push_back(std::move(event));
    if (m_deliveryPosted)
        return;
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(this, &RelayClient::deliverPending, Qt::QueuedConnection);
}

void RelayClient::deliverPending()
{
    m_deliveryPosted = false;
    QPointer<RelayClient> self(this);
    // disconnectFromRelay() empties the queue, so a handler that disconnects sees nothing more;
    // one that destroys the client ends the loop through `self`.
    while (!m_pending.empty()) {
        Event event = std::move(m_pending.front());
        m_pending.pop_front();
        Q_EMIT relayEvent(event);
        if (!self)
            return;
    }
}

} // namespace Wardlamp
