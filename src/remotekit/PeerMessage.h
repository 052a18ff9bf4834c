#pragma once

#include "RemoteCryptoError.h"
#include "Snapshot.h"
#include "WireEnums.h"
#include "WireLogLine.h"
#include "common/Expected.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>
#include <QUuid>

#include <optional>

namespace Wardlamp {

class ContentKey;
struct OpenedMessage;

// The application message exchanged by the peers of a room, never sent in
// clear: encode() gives its JSON, sealed() the payload text of a "msg" envelope.
// A plain value, safe to copy between threads.
//
// The named constructors set exactly the fields their type carries; decoding
// reads every optional field whatever the type (a reader decides what it uses).
// Optional fields are left out of the JSON when absent; null reads as absent.
struct PeerMessage {
    enum class MessageType {
        snapshot,
        logAppend,
        statusChange,
        commandAck,
        notify,
        requestSnapshot,
        subscribeLogs,
        command
    };

    MessageType type = MessageType::requestSnapshot;
    std::optional<QUuid> serverId;
    std::optional<QList<WireLogLine>> lines;
    std::optional<WireStatus> status;
    std::optional<bool> hasError;
    std::optional<CommandAction> action;
    std::optional<bool> ok;
    std::optional<QString> message;
    // JSON key "snapshot" (PeerMessage::snapshot() is the constructor).
    std::optional<Snapshot> snapshotRecord;

    static PeerMessage snapshot(Snapshot snapshot);
    static PeerMessage logAppend(const QUuid& serverId, QList<WireLogLine> lines);
    static PeerMessage statusChange(const QUuid& serverId, WireStatus status, bool hasError);
    static PeerMessage commandAck(
        const QUuid& serverId, CommandAction action, bool ok, std::optional<QString> message = std::nullopt);
    static PeerMessage notify(const QUuid& serverId, QString message);
    static PeerMessage requestSnapshot();
    static PeerMessage subscribeLogs(std::optional<QUuid> serverId = std::nullopt);
    static PeerMessage command(const QUuid& serverId, CommandAction action);

    // The message codec. encode() yields nothing only for a timestamp that JSON
    // cannot hold (NaN, infinity).
    std::optional<QByteArray> encode() const;
    static std::optional<PeerMessage> decode(QByteArrayView json);

    // Encoded, sealed under `key` and written as standard base64: the payload
    // of a "msg" envelope. Fails with sealFailed.
    Expected<QString, RemoteCryptoError> sealed(const ContentKey& key) const;
    // The reverse of sealed(): sealFailed for text that is not strict standard
    // base64, then the errors of RemoteCrypto::open, then decodingFailed.
    static Expected<PeerMessage, RemoteCryptoError> opened(QStringView payload, const ContentKey& key);
    // As opened(), also handing back the payload's 12-byte nonce, so a receiver
    // can refuse a payload it has already accepted (a replay by the relay).
    static Expected<OpenedMessage, RemoteCryptoError> openedWithNonce(QStringView payload, const ContentKey& key);

    friend bool operator==(const PeerMessage&, const PeerMessage&) = default;
};

struct OpenedMessage {
    PeerMessage message;
    QByteArray nonce;
};

QLatin1String rawValue(PeerMessage::MessageType type);
template <> std::optional<PeerMessage::MessageType> fromRawValue<PeerMessage::MessageType>(QStringView raw);

} // namespace Wardlamp
