#pragma once

#include "LineLedger.h"

#include "remotekit/ContentKey.h"
#include "remotekit/PeerMessage.h"
#include "remotekit/RelayClient.h"
#include "remotekit/SecretBytes.h"

#include <QHash>
#include <QObject>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

namespace Wardlamp::Soak {

// One controller of the soak: a RelayClient in the controller role (the
// production back-off, nothing scaled), opening what the agent sends, keeping
// a LineLedger of the lines it would show, and timing each recovery of the
// relay: when it was connected again, and when live lines (printed after the
// relay was back) reached it again.
class SoakController : public QObject {
    Q_OBJECT

public:
    struct Recovery {
        qint64 upMs = 0; // the relay's port accepted again
        std::optional<qint64> connectedMs;
        std::optional<qint64> linesMs; // first line printed at or after upMs, received
    };

    SoakController(const QUrl& relay, const SecretBytes& secret, int backlogLines, QObject* parent = nullptr);

    void start() { m_client->connectToRelay(); }
    void stop() { m_client->disconnectFromRelay(); }
    bool isOpen() const { return m_client->isOpen(); }
    void send(const PeerMessage& message) { m_client->sendMessage(message, m_key); }

    // The relay was restarted and accepts again since `upMs` (epoch-ms).
    void relayBack(qint64 upMs) { m_recoveries.push_back({ upMs, {}, {} }); }
    const std::vector<Recovery>& recoveries() const { return m_recoveries; }

    LineLedger& ledger() { return m_ledger; }
    // Servers (by name) this controller has been shown lines of.
    int serversSeen() const { return int(m_lastLineMs.size()); }
    // Acknowledgements received, by server id and action text.
    const QHash<QString, int>& acks() const { return m_acks; }
    // Connections after the first: the recoveries this controller went through.
    int epoch() const { return m_epoch; }
    int undecryptable() const { return m_undecryptable; }

private:
    void handleEvent(const RelayClient::Event& event);
    void handleMessage(const PeerMessage& message);

    std::unique_ptr<RelayClient> m_client;
    ContentKey m_key;
    LineLedger m_ledger;
    std::vector<Recovery> m_recoveries;
    QHash<QString, qint64> m_lastLineMs;
    QHash<QString, int> m_acks;
    int m_connections = 0;
    int m_epoch = 0;
    // WL_SOAK_TRACE_APPENDS=1: every connection and log append, on stderr.
    const bool m_traceAppends = qEnvironmentVariableIntValue("WL_SOAK_TRACE_APPENDS") > 0;
    const int m_number = ++s_count;
    static inline int s_count = 0;
    int m_undecryptable = 0;
};

} // namespace Wardlamp::Soak
