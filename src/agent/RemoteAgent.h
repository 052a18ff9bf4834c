#pragma once

#include "ConnectionState.h"
#include "LogForwarder.h"
#include "ReplayGuard.h"
#include "ReplayMemoryFile.h"
#include "StatusAnnouncer.h"
#include "remotekit/ContentKey.h"
#include "remotekit/RelayClient.h"
#include "remotekit/SecretBytes.h"
#include "remotekit/Snapshot.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <optional>

namespace Wardlamp {

class PairingStore;
class PushScheduler;
class ServerManager;
class ServerStore;
struct LineBatch;
struct PeerMessage;

// What a RemoteAgent is built with.
struct RemoteAgentOptions {
    // Handed to every RelayClient (tests shorten its delays).
    RelayClient::Options client;
    std::chrono::milliseconds pushDelay { 200 }; // trailing delay after the last change
    // At most this long after the first waiting change, so a steady stream of
    // log lines reaches controllers within about a quarter of a second, not
    // only once the stream pauses (a push every 250 ms still batches hundreds
    // of lines a second into a few appends).
    std::chrono::milliseconds maxPushDelay { 250 };
    std::chrono::milliseconds passwordDebounce { 400 };
    int replayMemory = 4096; // nonces of the last accepted payloads, whatever their key
    // Where those nonces outlive the process (a rotation of the key empties
    // it); none: in memory only.
    std::optional<QString> replayMemoryFile;
    // After the relay replaced this agent's connection by another computer's
    // (close code 4000), the agent waits this long before it joins again,
    // instead of taking the room back at once and being taken over in turn.
    std::chrono::milliseconds replacedRetryDelay { 60'000 };
};

// The desktop side of remote access: joins the relay room of the pairing secret
// as the agent, counts the controllers present, opens what they send and runs
// their commands on the supervisor, and publishes snapshots, new log lines and
// status announcements to them.
//
// Owner: the application object graph, one per process; configure() once.
// Thread: main thread. The relay client does its network work on its own and
// reports back here. The store, manager and pairing store are held weakly and
// must outlive the agent in practice.
//
// Invariants: at most one RelayClient, replaced on every reconnect(); events of
// a replaced client are ignored; a content key derivation (200,000 PBKDF2
// rounds with a password) runs on a worker thread and a newer reconnect()
// supersedes one still running; the nonce of an accepted payload is not
// accepted again (the last replayMemory nonces, across reconnections); every
// log line reaches a present controller once, in order. The controller count
// starts at 0 with each new client and carries over its reconnections; a
// "welcome" that states the count (our relay's) replaces it, and the peerJoin
// announcements of those controllers that follow it are not counted again.
class RemoteAgent : public QObject {
    Q_OBJECT

public:
    using Options = RemoteAgentOptions;
    static constexpr int recentLogBacklog = 500;
    // Log appends are split so that no sealed frame approaches the relay's
    // frame limit (1 MiB by default), whatever the lines hold.
    static constexpr qsizetype maxAppendTextBytes = 64 * 1024;
    static constexpr int maxAppendLines = 2000;
    // While the connection's send backlog holds more than half of what the
    // client allows, log lines wait; this often the agent looks again.
    static constexpr std::chrono::milliseconds logRetryInterval { 50 };
    // Our relay's close code for an agent connection replaced by a newer one of
    // the same room.
    static constexpr int closeCodeReplaced = 4000;

    // `relayUrl` none: no relay address is known; enabling gives an error state.
    explicit RemoteAgent(std::optional<QUrl> relayUrl, Options options = {}, QObject* parent = nullptr);
    ~RemoteAgent() override;

    void configure(ServerStore& store, ServerManager& manager, PairingStore& pairing);
    void reconnect();
    // Another relay from now on: the connection is rebuilt there at once.
    void setRelayUrl(std::optional<QUrl> relayUrl);

    ConnectionState state() const { return m_state; }
    qint64 controllerCount() const { return m_controllerCount; }
    std::optional<QUrl> relayUrl() const { return m_relayUrl; }
    // The current client, for diagnostics and tests; may be null.
    RelayClient* client() const { return m_client; }
    std::optional<QString> roomId() const { return m_roomId; }

    // Publishing (also called by the connection and message handling).
    void schedulePush();
    void pushSnapshot(bool force);
    std::optional<Snapshot> buildSnapshot() const;
    // The recent lines of one server or all, for `newcomers` controllers that
    // have just come (0: one already here asked), and with them every line
    // still owed to the controllers that were here before.
    void sendLogBacklog(const std::optional<QUuid>& serverId, qint64 newcomers);

Q_SIGNALS:
    void stateChanged(const Wardlamp::ConnectionState& state);
    void controllerCountChanged(qint64 count);
    // A new client was created (after any content key derivation).
    void clientCreated(Wardlamp::RelayClient* client);
    // A payload that opened was refused because its nonce was seen before.
    void replayRefused();

private:
    void setState(const ConnectionState& state);
    void setControllerCount(qint64 count);
    void dropClient();
    void startClient(quint64 generation, ContentKey key);
    void handleEvent(const RelayClient::Event& event);
    void handleEnvelope(const Envelope& envelope);
    void handleMessage(const PeerMessage& message);
    // Our relay's welcome: `controllers` are in the room, each announced again
    // by a peerJoin that follows at once.
    void takeCensus(qint64 controllers);
    // Another computer joined with the same pairing key: leave the room to it
    // and try again after replacedRetryDelay (or at the next reconnect()).
    void standAside();
    void handleEnabledChanged(bool enabled);
    void handleSecretChanged();
    void handlePasswordChanged(const QString& password);
    void handleLinesCaptured(const QUuid& id, const LineBatch& batch);
    // pushSnapshot() without its forwarding of new log lines; false when
    // nothing could be published (no client, key or model objects).
    bool publishSnapshot(bool force);
    void announceStatusChanges(const Snapshot& snapshot, RelayClient& client, const ContentKey& key);
    void forwardNewLogs();
    qsizetype sendBudget() const;
    void sendLines(const QUuid& id, const QList<LogLine>& lines);
    bool canPublish() const { return m_client && m_contentKey; }

    std::optional<QUrl> m_relayUrl;
    const Options m_options;
    ConnectionState m_state;
    QPointer<ServerStore> m_store;
    QPointer<ServerManager> m_manager;
    QPointer<PairingStore> m_pairing;
    QPointer<RelayClient> m_client;
    std::optional<ContentKey> m_contentKey;
    std::optional<QString> m_roomId;
    qint64 m_controllerCount = 0;
    // peerJoin announcements still expected for controllers a welcome counted.
    qint64 m_reannouncements = 0;
    LogForwarder m_logs;
    std::optional<quint64> m_lastSnapshotHash;
    PushScheduler* m_pushScheduler;
    StatusAnnouncer m_announcer;
    ReplayGuard m_replayGuard;
    std::optional<ReplayMemoryFile> m_replayFile;

    // Change de-duplication of the pairing subscriptions.
    bool m_lastEnabled = false;
    std::optional<SecretBytes> m_lastSecret;
    QString m_lastPassword;
    QTimer m_passwordDebounce;
    QTimer m_logRetry;
    QTimer m_replacedRetry;
    quint64 m_logTurn = 0; // where the next log push starts among the servers
    bool m_rebuilding = false;
    quint64 m_generation = 0; // bumped by every reconnect(); stale derivations compare against it
    bool m_configured = false;
};

} // namespace Wardlamp
