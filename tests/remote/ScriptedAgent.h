#pragma once

#include "remotekit/ContentKey.h"
#include "remotekit/PeerMessage.h"
#include "remotekit/RelayClient.h"
#include "remotekit/SecretBytes.h"
#include "remotekit/Snapshot.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QUuid>

#include <optional>

namespace Wardlamp::Test {

// A desktop agent reduced to its protocol, for controller tests: a RelayClient in
// the agent role that sends its snapshot (cached) when it connects, the snapshot
// and every backlog when a controller joins, the snapshot on requestSnapshot, a
// server's lines on subscribeLogs, and an acknowledgement for every command
// (a failure for servers listed in `refused`).
class ScriptedAgent : public QObject {
public:
    ScriptedAgent(const QUrl& relay, const SecretBytes& secret, const std::optional<QString>& password);

    void start();
    bool isOpen() const { return m_client.isOpen(); }
    int controllerCount() const { return m_controllers; }

    // Adds a line to a server's log and sends it to the controllers as an append.
    void appendLine(const QUuid& serverId, const QString& text, bool isError = false);
    // Sends a status announcement, tagged like the desktop's.
    void announce(const QUuid& serverId, const QString& text);

    Snapshot snapshot;
    QHash<QUuid, QList<WireLogLine>> logs;
    QSet<QUuid> refused;
    // Every message from a controller that opened, in order.
    QList<PeerMessage> received;

private:
    void handleEvent(const RelayClient::Event& event);
    void handleMessage(const PeerMessage& message);
    void sendSnapshot();
    void sendBacklog(const QUuid& serverId);

    RelayClient m_client;
    ContentKey m_key;
    int m_controllers = 0;
};

} // namespace Wardlamp::Test
