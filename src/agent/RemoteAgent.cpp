#include "RemoteAgent.h"

#include "AgentSnapshot.h"
#include "PairingStore.h"
#include "PushScheduler.h"
#include "RemoteAgentLogging.h"
#include "remotekit/PeerMessage.h"
#include "remotekit/RemoteCrypto.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"

#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <iterator>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

const char* yesNo(bool value)
{
    return value ? "true" : "false";
}

} // namespace

RemoteAgent::RemoteAgent(std::optional<QUrl> relayUrl, Options options, QObject* parent)
    : QObject(parent)
    , m_relayUrl(std::move(relayUrl))
    , m_options(std::move(options))
    , m_pushScheduler(new PushScheduler(m_options.pushDelay, m_options.maxPushDelay, this))
    , m_replayGuard(m_options.replayMemory)
{
    qRegisterMetaType<Wardlamp::ConnectionState>();
    connect(m_pushScheduler, &PushScheduler::due, this, [this] { pushSnapshot(false); });
    m_passwordDebounce.setSingleShot(true);
    m_passwordDebounce.setInterval(m_options.passwordDebounce);
    connect(&m_passwordDebounce, &QTimer::timeout, this, &RemoteAgent::reconnect);
    m_logRetry.setSingleShot(true);
    m_logRetry.setInterval(logRetryInterval);
    connect(&m_logRetry, &QTimer::timeout, this, &RemoteAgent::forwardNewLogs);
    if (m_options.replayMemoryFile) {
        m_replayFile.emplace(*m_options.replayMemoryFile);
        for (const QByteArray& nonce : m_replayFile->load(m_options.replayMemory))
            m_replayGuard.accept(nonce);
    }
    m_replacedRetry.setSingleShot(true);
    m_replacedRetry.setInterval(m_options.replacedRetryDelay);
    connect(&m_replacedRetry, &QTimer::timeout, this, &RemoteAgent::reconnect);
}

RemoteAgent::~RemoteAgent() = default;

void RemoteAgent::setRelayUrl(std::optional<QUrl> relayUrl)
{
    if (relayUrl == m_relayUrl)
        return;
    m_relayUrl = std::move(relayUrl);
    if (m_configured)
        reconnect();
}

void RemoteAgent::configure(ServerStore& store, ServerManager& manager, PairingStore& pairing)
{
    if (m_configured) {
        qCWarning(lcRemoteAgent, "configure called twice; ignored");
        return;
    }
    m_configured = true;
    m_store = &store;
    m_manager = &manager;
    m_pairing = &pairing;

    m_lastEnabled = pairing.isEnabled();
    m_lastSecret = pairing.secret();
    m_lastPassword = pairing.password();
    connect(&pairing, &PairingStore::enabledChanged, this, &RemoteAgent::handleEnabledChanged);
    connect(&pairing, &PairingStore::secretChanged, this, &RemoteAgent::handleSecretChanged);
    connect(&pairing, &PairingStore::passwordChanged, this, &RemoteAgent::handlePasswordChanged);
    connect(&manager, &ServerManager::stateChanged, this, &RemoteAgent::schedulePush);
    connect(&manager, &ServerManager::linesCaptured, this, &RemoteAgent::handleLinesCaptured, Qt::DirectConnection);
    connect(&store, &ServerStore::serversChanged, this, &RemoteAgent::schedulePush);

    reconnect();
}

void RemoteAgent::handleEnabledChanged(bool enabled)
{
    if (enabled == m_lastEnabled)
        return;
    m_lastEnabled = enabled;
    reconnect();
}

void RemoteAgent::handleSecretChanged()
{
    const std::optional<SecretBytes> secret = m_pairing ? m_pairing->secret() : std::nullopt;
    if (secret == m_lastSecret)
        return;
    // What was accepted under the old key can never open under the new one.
    if (m_lastSecret) {
        m_replayGuard.clear();
        if (m_replayFile)
            m_replayFile->remove();
    }
    m_lastSecret = secret;
    // The secret that reconnect() itself creates is already being used.
    if (!m_rebuilding)
        reconnect();
}

void RemoteAgent::handlePasswordChanged(const QString& password)
{
    if (password == m_lastPassword)
        return;
    m_lastPassword = password;
    m_passwordDebounce.start();
}

void RemoteAgent::setState(const ConnectionState& state)
{
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(m_state);
}

void RemoteAgent::setControllerCount(qint64 count)
{
    if (count == m_controllerCount)
        return;
    m_controllerCount = count;
    Q_EMIT controllerCountChanged(count);
}

void RemoteAgent::dropClient()
{
    if (!m_client)
        return;
    RelayClient* old = m_client;
    m_client = nullptr;
    m_logRetry.stop();
    old->disconnectFromRelay();
    QObject::disconnect(old, nullptr, this, nullptr);
    old->deleteLater();
}

void RemoteAgent::reconnect()
{
    const quint64 generation = ++m_generation;
    m_replacedRetry.stop();
    m_pushScheduler->cancel();
    dropClient();
    setControllerCount(0);
    m_reannouncements = 0;
    m_logs.reset();
    m_lastSnapshotHash.reset();

    if (!m_pairing || !m_pairing->isEnabled()) {
        setState(ConnectionState::off());
        return;
    }

    m_rebuilding = true;
    m_pairing->ensureSecret();
    m_rebuilding = false;
    const std::optional<SecretBytes> secret = m_pairing->secret();
    m_lastSecret = secret;
    if (!secret) {
        setState(ConnectionState::error(u"No pairing key"_s));
        return;
    }
    if (!m_relayUrl) {
        setState(ConnectionState::error(u"No relay address"_s));
        return;
    }

    m_roomId = RemoteCrypto::roomId(*secret);
    const QString password = m_pairing->password();
    if (password.isEmpty()) {
        auto key = RemoteCrypto::contentKey(*secret);
        if (!key) {
            setState(ConnectionState::error(u"Could not derive the content key"_s));
            return;
        }
        startClient(generation, *key);
        return;
    }

    // 200,000 PBKDF2 rounds: off the main thread. A later reconnect() bumps the
    // generation, and this result is then thrown away.
    setState(ConnectionState::connecting());
    QtConcurrent::run([secret = *secret, password] {
        return RemoteCrypto::contentKey(secret, password);
    }).then(this, [this, generation](const std::optional<ContentKey>& key) {
        if (generation != m_generation)
            return;
        if (!key) {
            setState(ConnectionState::error(u"Could not derive the content key"_s));
            return;
        }
        startClient(generation, *key);
    });
}

void RemoteAgent::startClient(quint64 generation, ContentKey key)
{
    Q_ASSERT(generation == m_generation);
    Q_UNUSED(generation);
    // The replay memory outlives connections and keys: a password changed and
    // changed back brings an old key back, and with it captured payloads.
    m_contentKey = std::move(key);
    auto* client = new RelayClient(*m_relayUrl, *m_roomId, PeerRole::agent, m_options.client, this);
    m_client = client;
    // Events of a client that a later reconnect() dropped must change nothing.
    connect(client, &RelayClient::relayEvent, this, [this, client](const RelayClient::Event& event) {
        if (client == m_client)
            handleEvent(event);
    });
    setState(ConnectionState::connecting());
    Q_EMIT clientCreated(client);
    client->connectToRelay();
}

void RemoteAgent::handleEvent(const RelayClient::Event& event)
{
    switch (event.kind) {
    case RelayClient::Event::Kind::disconnected:
        m_reannouncements = 0;
        if (event.closeCode == closeCodeReplaced) {
            standAside();
            break;
        }
        if (m_state.kind != ConnectionState::Kind::off)
            setState(ConnectionState::connecting());
        break;
    case RelayClient::Event::Kind::connected:
        // The count carries over from the previous connection of this client: a
        // relay that only announces controllers as they join says nothing of the
        // ones that stayed. Ours states the true count in its welcome, which
        // comes next.
        m_reannouncements = 0;
        setState(m_controllerCount > 0 ? ConnectionState::controllerConnected() : ConnectionState::online());
        m_logs.reset();
        m_lastSnapshotHash.reset();
        pushSnapshot(true);
        break;
    case RelayClient::Event::Kind::envelope:
        if (event.envelope)
            handleEnvelope(*event.envelope);
        break;
    }
}

void RemoteAgent::handleEnvelope(const Envelope& envelope)
{
    // The announcements of a census come right after its welcome; anything
    // else in between means the relay sends no more of them.
    if (envelope.kind != Envelope::Kind::peerJoin)
        m_reannouncements = 0;
    switch (envelope.kind) {
    case Envelope::Kind::peerJoin:
        if (envelope.role != PeerRole::controller)
            return;
        if (m_reannouncements > 0) {
            // A controller the welcome already counted.
            --m_reannouncements;
            return;
        }
        setControllerCount(m_controllerCount + 1);
        setState(ConnectionState::controllerConnected());
        // The backlog goes out before any line forwarded now. Lines new since
        // the last push are also the newest lines of the backlog: sent ahead
        // of it, they would reach the joining controller before the older
        // lines of the backlog, out of order. The backlog reaches back to the
        // first line not yet forwarded, so the controllers already present
        // get those in order too.
        if (!publishSnapshot(true))
            return;
        sendLogBacklog(std::nullopt, 1);
        forwardNewLogs();
        return;
    case Envelope::Kind::peerLeave: {
        if (envelope.role != PeerRole::controller)
            return;
        const qint64 remaining = m_controllerCount - 1;
        setControllerCount(std::max<qint64>(remaining, 0));
        if (remaining <= 0)
            setState(ConnectionState::online());
        return;
    }
    case Envelope::Kind::msg: {
        if (!envelope.payload || !m_contentKey)
            return;
        auto opened = PeerMessage::openedWithNonce(*envelope.payload, *m_contentKey);
        if (!opened)
            return;
        if (!m_replayGuard.accept(opened->nonce)) {
            qCWarning(lcRemoteAgent, "dropped a message whose payload was already accepted (replayed)");
            Q_EMIT replayRefused();
            return;
        }
        // Before the command runs: a replay after a crash right after it is refused too.
        if (m_replayFile && !m_replayFile->save(m_replayGuard.nonces()))
            qCWarning(lcRemoteAgent, "could not save the replay memory to %s", qUtf8Printable(m_replayFile->path()));
        handleMessage(opened->message);
        return;
    }
    case Envelope::Kind::welcome:
        if (envelope.controllers)
            takeCensus(*envelope.controllers);
        return;
    case Envelope::Kind::ping:
    case Envelope::Kind::pong:
    case Envelope::Kind::registerDevice:
        return;
    }
}

void RemoteAgent::standAside()
{
    // Redialling at once would replace the other computer, which would redial
    // and replace this one, many times a second, while the controllers see the
    // two machines' lists alternate.
    qCWarning(lcRemoteAgent, "another computer joined the room with this pairing key; retrying in %lld s",
        qlonglong(std::chrono::duration_cast<std::chrono::seconds>(m_options.replacedRetryDelay).count()));
    m_pushScheduler->cancel();
    dropClient();
    setControllerCount(0);
    setState(ConnectionState::error(u"Another computer is using this pairing key"_s));
    m_replacedRetry.start();
}

void RemoteAgent::takeCensus(qint64 controllers)
{
    const qint64 before = m_controllerCount;
    setControllerCount(controllers);
    m_reannouncements = controllers;
    setState(controllers > 0 ? ConnectionState::controllerConnected() : ConnectionState::online());
    // The push of `connected` passed the logs over while nobody was counted:
    // the controllers found here get the recent lines, as on a join. (With a
    // count carried over, that push sent them the whole logs already.)
    if (before == 0 && controllers > 0)
        sendLogBacklog(std::nullopt, controllers);
}

void RemoteAgent::handleMessage(const PeerMessage& message)
{
    if (!m_manager || !m_store)
        return;
    switch (message.type) {
    case PeerMessage::MessageType::command: {
        if (!message.serverId || !message.action)
            return;
        const auto config = m_store->server(*message.serverId);
        if (!config)
            return;
        switch (*message.action) {
        case CommandAction::start:
            m_manager->start(*config);
            break;
        case CommandAction::stop:
            m_manager->stop(*config);
            break;
        case CommandAction::restart:
            m_manager->restart(*config);
            break;
        case CommandAction::clearLogs:
            m_manager->clearLogs(*message.serverId);
            break;
        }
        if (m_client && m_contentKey)
            m_client->sendMessage(PeerMessage::commandAck(*message.serverId, *message.action, true), *m_contentKey);
        return;
    }
    case PeerMessage::MessageType::subscribeLogs:
        sendLogBacklog(message.serverId, 0);
        return;
    case PeerMessage::MessageType::requestSnapshot:
        pushSnapshot(true);
        return;
    case PeerMessage::MessageType::snapshot:
    case PeerMessage::MessageType::logAppend:
    case PeerMessage::MessageType::statusChange:
    case PeerMessage::MessageType::commandAck:
    case PeerMessage::MessageType::notify:
        return;
    }
}

// --- publishing ---------------------------------------------------------------

void RemoteAgent::schedulePush()
{
    // Without a client every push would only be skipped (and logged as such):
    // remote access is off, or a connection is still being set up, whose
    // `connected` forces a push anyway.
    if (!m_client)
        return;
    m_pushScheduler->schedule();
}

std::optional<Snapshot> RemoteAgent::buildSnapshot() const
{
    if (!m_store || !m_manager || !m_pairing)
        return std::nullopt;
    return AgentSnapshot::build(
        m_pairing->macName(), m_store->servers(), m_manager->states(), QDateTime::currentDateTimeUtc());
}

void RemoteAgent::pushSnapshot(bool force)
{
    if (publishSnapshot(force))
        forwardNewLogs();
}

bool RemoteAgent::publishSnapshot(bool force)
{
    if (!m_client || !m_contentKey) {
        qCCritical(
            lcRemoteAgent, "pushSnapshot skipped: client=%s, key=%s", yesNo(m_client), yesNo(m_contentKey.has_value()));
        return false;
    }
    const std::optional<Snapshot> snapshot = buildSnapshot();
    if (!snapshot) {
        qCCritical(
            lcRemoteAgent, "pushSnapshot skipped: buildSnapshot returned nil (store/manager/pairing not configured)");
        return false;
    }
    qCInfo(lcRemoteAgent, "pushSnapshot: %lld server(s), force=%s", qlonglong(snapshot->servers.size()), yesNo(force));
    // A forced push has done what a waiting one would do.
    m_pushScheduler->cancel();

    const quint64 hash = AgentSnapshot::hash(*snapshot);
    if (force || !m_lastSnapshotHash || hash != *m_lastSnapshotHash) {
        m_lastSnapshotHash = hash;
        m_client->sendMessage(PeerMessage::snapshot(*snapshot), *m_contentKey, true);
    }
    announceStatusChanges(*snapshot, *m_client, *m_contentKey);
    return true;
}

void RemoteAgent::announceStatusChanges(const Snapshot& snapshot, RelayClient& client, const ContentKey& key)
{
    for (const StatusAnnouncer::Announcement& announcement : m_announcer.update(snapshot)) {
        client.sendMessage(PeerMessage::notify(announcement.serverId, announcement.text), key, false,
            RemoteCrypto::notifyTag(announcement.kind, key));
        qCInfo(lcRemoteAgent, "notify [%s]: %s", rawValue(announcement.kind).data(), qUtf8Printable(announcement.text));
    }
}

void RemoteAgent::handleLinesCaptured(const QUuid& id, const LineBatch& batch)
{
    // Only lines a present controller is owed are kept; the rest are passed
    // over at the next push.
    if (!m_client || !m_contentKey || m_controllerCount < 1 || !m_manager)
        return;
    m_logs.capture(id, batch, m_manager->state(id).logs);
}

qsizetype RemoteAgent::sendBudget() const
{
    // Logs may fill half the client's send backlog: the other half keeps room
    // for snapshots, acknowledgements and alerts, and the client's limit (past
    // which it ends the connection) is never reached by log traffic.
    if (!m_client)
        return 0;
    return m_options.client.maxPendingBytes / 2 - m_client->pendingBytes();
}

void RemoteAgent::forwardNewLogs()
{
    if (!m_client || !m_manager || !m_contentKey)
        return;
    // A relay or network slower than the logs: lines wait in the logs and in the
    // forwarder (bounded there) until the backlog has gone out, and are sent in
    // order then. The wait is polled: the socket says when it wrote, not when
    // its backlog is small again, and TLS keeps a buffer of its own.
    qsizetype budget = sendBudget();
    bool held = false;
    auto forward = [&](const QUuid& id, const LogRing& logs) {
        if (m_controllerCount < 1) {
            m_logs.passOver(id, logs);
            return;
        }
        if (budget <= 0) {
            held = true;
            return;
        }
        bool more = false;
        const QList<LogLine> lines = m_logs.take(id, logs, budget, &more);
        for (const LogLine& line : lines)
            budget -= LogForwarder::wireCost(line);
        sendLines(id, lines);
        held = held || more;
    };
    const auto& states = m_manager->states();
    // Each push starts one server further on, so that while the budget runs
    // out every push, a busy server cannot keep the others' lines waiting.
    const qsizetype count = states.size();
    const qsizetype start = count ? qsizetype(m_logTurn++ % quint64(count)) : 0;
    auto it = states.cbegin();
    std::advance(it, start);
    for (qsizetype i = 0; i < count; ++i) {
        forward(it.key(), it->logs);
        if (++it == states.cend())
            it = states.cbegin();
    }
    // Lines captured for a server whose entry is gone.
    static const LogRing empty;
    for (const QUuid& id : m_logs.pendingIds()) {
        if (!states.contains(id))
            forward(id, empty);
    }
    if (held && !m_logRetry.isActive())
        m_logRetry.start();
}

void RemoteAgent::sendLogBacklog(const std::optional<QUuid>& serverId, qint64 newcomers)
{
    if (!m_client || !m_manager || !m_contentKey)
        return;
    QList<QUuid> ids;
    for (const QUuid& id : serverId ? QList<QUuid> { *serverId } : m_manager->states().keys()) {
        if (!m_manager->state(id).logs.isEmpty())
            ids.append(id);
    }
    if (ids.isEmpty())
        return;
    // The recent lines of every server, but within the send budget shared out
    // among them: of very long lines, the newest that fit (at least one each).
    const qsizetype share = std::max(sendBudget() / ids.size(), maxAppendTextBytes);
    // Controllers that were here before are owed every line not yet forwarded
    // to them; with no cursor yet that is the whole log (the push after a
    // reconnection, or every push, has not got to it). With nobody here
    // before, the lines older than the backlog were never owed to anyone.
    const bool othersPresent = m_controllerCount > newcomers;
    bool held = false;
    for (const QUuid& id : ids) {
        const LogRing& logs = m_manager->state(id).logs;
        // What the controllers present are owed goes first within the share:
        // the captured lines that the log no longer holds (evicted or cleared
        // since), then the log's lines after the last one forwarded. What does
        // not fit stays owed and follows in order with the next lines forwarded.
        std::optional<quint64> forwarded = m_logs.cursor(id);
        if (!forwarded && othersPresent)
            forwarded = 0;
        const int end = forwarded ? logs.indexAfterSeq(*forwarded) : logs.size();
        QList<LogLine> owed;
        if (forwarded) {
            bool more = false;
            owed = m_logs.take(id, logs, share, &more);
            held = held || more;
        } else {
            m_logs.markSentThrough(id, logs.lastSeq());
        }
        qsizetype cost = 0;
        for (const LogLine& line : std::as_const(owed))
            cost += LogForwarder::wireCost(line);
        // Then, ahead of them, the lines already forwarded, newest first, for
        // the controller that has just come.
        int first = end;
        while (first > 0 && end - first + owed.size() < recentLogBacklog) {
            const qsizetype lineCost = LogForwarder::wireCost(logs.at(first - 1));
            if ((first < end || !owed.isEmpty()) && cost + lineCost > share)
                break;
            cost += lineCost;
            --first;
        }
        QList<LogLine> lines;
        lines.reserve(end - first + owed.size());
        for (int i = first; i < end; ++i)
            lines.append(logs.at(i));
        lines.append(owed);
        sendLines(id, lines);
    }
    if (held && !m_logRetry.isActive())
        m_logRetry.start();
}

void RemoteAgent::sendLines(const QUuid& id, const QList<LogLine>& lines)
{
    if (lines.isEmpty() || !m_client || !m_contentKey)
        return;
    QList<WireLogLine> chunk;
    qsizetype chunkBytes = 0;
    auto flush = [&] {
        if (chunk.isEmpty())
            return;
        m_client->sendMessage(PeerMessage::logAppend(id, std::move(chunk)), *m_contentKey);
        chunk = {};
        chunkBytes = 0;
    };
    for (const LogLine& line : lines) {
        const qsizetype bytes = line.text.size() * 3; // UTF-8 upper bound
        if (!chunk.isEmpty() && (chunkBytes + bytes > maxAppendTextBytes || chunk.size() >= maxAppendLines))
            flush();
        chunk.append(AgentSnapshot::wireLine(line));
        chunkBytes += bytes;
    }
    flush();
}

} // namespace Wardlamp
