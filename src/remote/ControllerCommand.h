#pragma once

#include "ControllerSession.h"
#include "ExitCode.h"
#include "RecentLineIds.h"
#include "RemoteOptions.h"

#include "remotekit/Snapshot.h"

#include <QObject>
#include <QTextStream>
#include <QTimer>
#include <QUuid>

#include <optional>

namespace Wardlamp {

// Runs one wardlamp-remote command over a ControllerSession: asks for a snapshot,
// finds the server, then lists, prints logs, sends a command and waits for its
// acknowledgement, or watches announcements. Tells apart, with a clear message and
// exit code: an unreachable relay, an absent desktop, a wrong password (messages
// arrive but none opens), an unknown server. However it ends (done, failed, or
// interrupted), it leaves the relay politely, closing with 1001, and emits
// finished() once, after the close went through or closeWaitMs passed.
// Owner: main(); main thread.
class ControllerCommand : public QObject {
    Q_OBJECT

public:
    // After a message that does not open, how long to wait for one that does before
    // blaming the password.
    static constexpr int passwordGraceMs = 2000;
    // A first snapshot may be the relay's stored copy; how long to wait for the
    // desktop's fresh one before using it.
    static constexpr int snapshotSettleMs = 1000;
    // Backlog: how long without a new batch ends it, and how long to wait for the
    // first batch (a server with no lines sends none).
    static constexpr int backlogQuietMs = 300;
    static constexpr int backlogFirstMs = 2000;
    // The most the exit waits for the relay to answer the close.
    static constexpr int closeWaitMs = 1000;

    ControllerCommand(RemoteOptions options, const QString& room, const ContentKey& key,
        RelayClient::Options clientOptions, QObject* parent = nullptr);

    void run();
    // SIGINT or SIGTERM: end now, with exit status 128 + the signal's number.
    void interrupt(int signalNumber);

Q_SIGNALS:
    void finished(int exitCode);

private:
    enum class Phase { idle, awaitingSnapshot, awaitingBacklog, following, awaitingAck, watching, done };

    void handleConnected();
    void handleConnectionLost(const QString& error);
    void handlePresence(bool online);
    void handleUnopened();
    void handleMessage(const PeerMessage& message);
    void handleDeadline();
    void handleSettle();
    void snapshotReady();
    void takeLines(const QList<WireLogLine>& lines);
    void finish(ExitCode code, const QString& message = {});
    void note(const QString& text);
    void closed();

    RemoteOptions m_options;
    ControllerSession m_session;
    QTextStream m_out;
    QTextStream m_err;
    Phase m_phase = Phase::idle;
    QTimer m_deadline;
    QTimer m_passwordGrace;
    QTimer m_settle;
    QTimer m_closeWait;
    // Set by finish() until finished() is emitted.
    std::optional<int> m_exitCode;
    std::optional<Snapshot> m_snapshot;
    int m_snapshotCount = 0;
    std::optional<WireServer> m_target;
    QList<WireLogLine> m_backlog;
    RecentLineIds m_seenLines;
};

} // namespace Wardlamp
