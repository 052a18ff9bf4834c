#pragma once

#include "Envelope.h"
#include "WireEnums.h"

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <deque>
#include <memory>
#include <optional>

namespace Wardlamp {

class ContentKey;
struct PeerMessage;
struct RelayConnection;

// One WebSocket connection to the relay for one room and one role, turned into an
// ordered stream of events for its owner. It dials out on connectToRelay(), reconnects on
// its own after every failure with exponential back-off and jitter
// (ReconnectSchedule), pings every 25 s, sends envelopes as text frames and decodes
// every received text or binary frame into an Envelope (frames that do not decode
// are dropped; the connection stays up).
//
// Owner and thread: created, used and destroyed on one thread with an event loop
// (the agent's main thread); every operation returns at once and every event is
// delivered later, from that thread's event loop, in the order it happened.
// Invariants: at most one connection attempt or open connection at a time; after
// disconnectFromRelay() (or destruction) no event is delivered, not even one that was
// already on its way; a failure of a connection that has been replaced by a newer
// one never touches the newer one.
//
// Failure signals. Each of these, while the owner wants the connection, tears the
// connection down (close code 1001), reports `disconnected` and schedules a
// reconnect, advancing the attempt counter once: the relay closing the connection;
// a socket error (including a refused or failed handshake, and TLS errors); the
// handshake not completing within the request timeout; a ping that gets no pong
// before the next ping is due (a relay that stops answering, or a connection
// silently lost, is noticed within two heartbeat periods). A close followed by a
// socket error on the same connection counts as two signals; a connection that
// never opened gives one signal however its failure is reported.
//
// Send backlog. QWebSocket hands every frame to its socket, which keeps whatever
// the network has not taken yet in memory without limit. The client measures that
// backlog (bytes handed to the socket and not yet written to the network,
// including TLS records still to go) and never lets it pass
// Options::maxPendingBytes: an envelope that would is not queued; the connection
// is ended instead, like any other failure (1001, `disconnected` with the reason,
// reconnect). One envelope alone may exceed the limit when nothing is waiting.
// Overflows in a row, with no connection lasting a heartbeat period in between,
// advance the back-off like failed attempts, so a relay that takes every
// connection and then stops reading is not redialled every half second.
class RelayClient : public QObject {
    Q_OBJECT

public:
    struct Event {
        enum class Kind { connected, disconnected, envelope };

        Kind kind = Kind::connected;
        // disconnected: what went wrong; absent when the relay closed the connection.
        std::optional<QString> error;
        // envelope: the decoded frame.
        std::optional<Envelope> envelope;
        // disconnected: the code of the relay's close frame, when the relay
        // closed an open connection (4000 from our relay: another connection
        // of this room and role replaced this one).
        std::optional<int> closeCode;

        static Event connected() { return {}; }
        static Event disconnected(std::optional<QString> error, std::optional<int> closeCode = std::nullopt)
        {
            return { Kind::disconnected, std::move(error), {}, closeCode };
        }
        static Event received(Envelope envelope) { return { Kind::envelope, {}, std::move(envelope), {} }; }

        friend bool operator==(const Event&, const Event&) = default;
    };

    // Well above what the agent sends in one go in normal use (a snapshot and the
    // recent log lines of each server), small beside the memory of any machine.
    static constexpr qint64 defaultMaxPendingBytes = 4 * 1024 * 1024;
    static constexpr qint64 defaultMaxIncomingMessageBytes = 16 * 1024 * 1024;

    struct Options {
        // Multiplies every delay of the client (back-off, heartbeat period, request
        // timeout): 1 in production, small in tests that check the schedule.
        double timeScale = 1.0;
        // Certificate authorities trusted in addition to the system's (a self-hosted
        // relay with its own certificate).
        QList<QSslCertificate> extraCaCertificates;
        // The most the send backlog of one connection may hold (see above); values
        // below 1 read as the default.
        qint64 maxPendingBytes = defaultMaxPendingBytes;
        // The largest message taken from the relay, in bytes (text: in
        // characters); a larger one ends the connection like any other failure.
        // Well above the relay's largest frame (1 MiB by default).
        qint64 maxIncomingMessageBytes = defaultMaxIncomingMessageBytes;
    };

    static constexpr int requestTimeoutMs = 60'000;
    static constexpr int heartbeatIntervalMs = 25'000;

    RelayClient(QUrl endpoint, QString room, PeerRole role, QObject* parent = nullptr);
    RelayClient(QUrl endpoint, QString room, PeerRole role, Options options, QObject* parent = nullptr);
    // Closes an open connection with 1001 and delivers nothing more.
    ~RelayClient() override;

    // The upgrade URL: `endpoint` with "connect" appended as its last path segment,
    // with exactly one "/" before it; the query is kept, the fragment dropped.
    static QUrl connectionUrl(const QUrl& endpoint);

    QUrl endpoint() const { return m_endpoint; }
    QString room() const { return m_room; }
    PeerRole role() const { return m_role; }
    bool isActive() const { return m_active; }
    bool isOpen() const;
    // Failures since the last successful open.
    int reconnectAttempt() const { return m_reconnectAttempt; }
    // Bytes of the open connection handed to the socket and not yet written to the
    // network; 0 without an open connection.
    qint64 pendingBytes() const;
    // Connections ended because their send backlog reached the limit.
    int backlogOverflows() const { return m_backlogOverflows; }

    // Start connecting and keep reconnecting until disconnectFromRelay(). A second call
    // while active does nothing.
    void connectToRelay();
    // Stop: close the connection with 1001, cancel any pending reconnect, drop
    // every event not yet delivered. No event follows.
    void disconnectFromRelay();
    // Sends `envelope` as one text frame if a connection is open; otherwise (or if it
    // cannot be encoded) it is dropped. Nothing is kept for a later connection.
    void sendEnvelope(const Envelope& envelope);
    // Seals `message` under `key` (on the calling thread) into the "msg" envelope of
    // this client's role, "cache": true when `cache` is set, "tag" with "notify":
    // true when a tag is given, and sends it as sendEnvelope() does.
    void sendMessage(const PeerMessage& message, const ContentKey& key, bool cache = false,
        const std::optional<QString>& tag = std::nullopt);

Q_SIGNALS:
    // Every event, in order, from the event loop of the owner's thread.
    void relayEvent(const Wardlamp::RelayClient::Event& event);
    // After disconnectFromRelay(): the connection it closed has finished closing (the relay
    // answered the close, or the socket is gone), or there was none to close. Lets
    // a program that is about to exit wait for its 1001 to reach the relay. Not
    // emitted if connectToRelay() is called again first.
    void closed();
    // Diagnostics: a reconnect was scheduled after failure number `attempt` (from 0),
    // `delayMs` from now (already scaled).
    void reconnectScheduled(int attempt, qint64 delayMs);

private:
    enum class Signal { closed, error };

    void openSocket();
    // The current or last torn-down connection with this serial, if it still exists.
    RelayConnection* connectionFor(quint64 serial) const;
    void handleOpened(quint64 serial);
    void handleFailure(quint64 serial, Signal signal, std::optional<QString> error);
    void handleFrame(quint64 serial, const QByteArray& bytes);
    void handleHeartbeat();
    void handleBacklogOverflow(qint64 pending, qint64 frameBytes);
    void tearDown(std::optional<QString> error, bool report, std::optional<int> closeCode = std::nullopt);
    void scheduleReconnect();
    void report(Event event);
    void deliverPending();
    int scaled(int ms) const;

    QUrl m_endpoint;
    QString m_room;
    PeerRole m_role;
    Options m_options;
    bool m_active = false;
    int m_reconnectAttempt = 0;
    int m_backlogOverflows = 0;
    // Overflows since a connection last lived through a heartbeat period.
    int m_overflowStreak = 0;
    quint64 m_nextSerial = 0;
    // The connection being opened or open; absent while waiting or idle.
    std::unique_ptr<RelayConnection> m_current;
    // The connection torn down last: a second failure signal of it still counts
    // while no newer connection exists.
    std::unique_ptr<RelayConnection> m_previous;
    QTimer m_heartbeat;
    QTimer m_reconnectTimer;
    std::deque<Event> m_pending;
    bool m_deliveryPosted = false;
};

} // namespace Wardlamp

Q_DECLARE_METATYPE(Wardlamp::RelayClient::Event)
