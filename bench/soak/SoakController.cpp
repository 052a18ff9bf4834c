#include "SoakController.h"

#include "remotekit/RemoteCrypto.h"
#include "remotekit/WireEnums.h"

#include <QDateTime>

#include <cstdio>

namespace Wardlamp::Soak {

SoakController::SoakController(const QUrl& relay, const SecretBytes& secret, int backlogLines, QObject* parent)
    : QObject(parent)
    , m_client(std::make_unique<RelayClient>(relay, RemoteCrypto::roomId(secret), PeerRole::controller))
    , m_key(*RemoteCrypto::contentKey(secret))
    , m_ledger(backlogLines)
{
    connect(m_client.get(), &RelayClient::relayEvent, this, &SoakController::handleEvent);
}

void SoakController::handleEvent(const RelayClient::Event& event)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    switch (event.kind) {
    case RelayClient::Event::Kind::connected:
        if (m_connections++ > 0)
            ++m_epoch;
        if (m_traceAppends)
            std::fprintf(stderr, "%lld controller %d connected, epoch %d\n", qlonglong(now), m_number, m_epoch);
        if (!m_recoveries.empty() && !m_recoveries.back().connectedMs)
            m_recoveries.back().connectedMs = now;
        return;
    case RelayClient::Event::Kind::disconnected:
        return;
    case RelayClient::Event::Kind::envelope:
        break;
    }
    if (!event.envelope || event.envelope->kind != Envelope::Kind::msg || !event.envelope->payload)
        return;
    auto opened = PeerMessage::opened(*event.envelope->payload, m_key);
    if (!opened) {
        ++m_undecryptable;
        return;
    }
    handleMessage(*opened);
}

void SoakController::handleMessage(const PeerMessage& message)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (message.type == PeerMessage::MessageType::commandAck && message.serverId && message.action) {
        ++m_acks[message.serverId->toString(QUuid::WithoutBraces) + u' ' + QString(rawValue(*message.action))];
        return;
    }
    if (message.type != PeerMessage::MessageType::logAppend || !message.lines)
        return;
    if (m_traceAppends && !message.lines->isEmpty()) {
        const auto first = PrintedLine::parse(message.lines->first().text);
        const auto last = PrintedLine::parse(message.lines->last().text);
        if (first && last)
            std::fprintf(stderr, "%lld controller %d append %s %lld seq %lld..%lld (%lld lines), epoch %d\n",
                qlonglong(now), m_number, qPrintable(first->server), qlonglong(first->pid), qlonglong(first->seq),
                qlonglong(last->seq), qlonglong(message.lines->size()), m_epoch);
    }
    for (const PrintedLine& line : m_ledger.take(*message.lines, m_epoch)) {
        m_lastLineMs[line.server] = now;
        if (!m_recoveries.empty()) {
            Recovery& recovery = m_recoveries.back();
            if (!recovery.linesMs && line.printedMs >= recovery.upMs)
                recovery.linesMs = now;
        }
    }
}

} // namespace Wardlamp::Soak
