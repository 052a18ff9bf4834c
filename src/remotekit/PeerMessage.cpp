#include "PeerMessage.h"

#include "ContentKey.h"
#include "RemoteCrypto.h"
#include "StrictBase64.h"
#include "WireCodec_p.h"
#include "WireEnums_p.h"

namespace Wardlamp {

namespace {
using Type = PeerMessage::MessageType;

constexpr RawTable<Type, 8> messageTypes { {
    { Type::snapshot, "snapshot" },
    { Type::logAppend, "logAppend" },
    { Type::statusChange, "statusChange" },
    { Type::commandAck, "commandAck" },
    { Type::notify, "notify" },
    { Type::requestSnapshot, "requestSnapshot" },
    { Type::subscribeLogs, "subscribeLogs" },
    { Type::command, "command" },
} };

PeerMessage ofType(Type type)
{
    PeerMessage message;
    message.type = type;
    return message;
}

std::optional<PeerMessage> readMessage(const Json::Value& value)
{
    using namespace WireCodec;
    if (value.type != Json::Value::Type::object)
        return std::nullopt;
    PeerMessage message;
    const auto asLines = [](const Json::Value& v) { return asArrayOf<WireLogLine>(v, readLogLine); };
    if (!readRequired(value, QLatin1String("type"), asEnum<Type>, message.type)
        || !readOptional(value, QLatin1String("serverId"), asUuid, message.serverId)
        || !readOptional(value, QLatin1String("lines"), asLines, message.lines)
        || !readOptional(value, QLatin1String("status"), asEnum<WireStatus>, message.status)
        || !readOptional(value, QLatin1String("hasError"), asBool, message.hasError)
        || !readOptional(value, QLatin1String("action"), asEnum<CommandAction>, message.action)
        || !readOptional(value, QLatin1String("ok"), asBool, message.ok)
        || !readOptional(value, QLatin1String("message"), asString, message.message)
        || !readOptional(value, QLatin1String("snapshot"), readSnapshot, message.snapshotRecord))
        return std::nullopt;
    return message;
}
} // namespace

QLatin1String rawValue(PeerMessage::MessageType type)
{
    return rawOf(messageTypes, type);
}

template <> std::optional<PeerMessage::MessageType> fromRawValue<PeerMessage::MessageType>(QStringView raw)
{
    return caseOf(messageTypes, raw);
}

PeerMessage PeerMessage::snapshot(Snapshot snapshot)
{
    PeerMessage message = ofType(Type::snapshot);
    message.snapshotRecord = std::move(snapshot);
    return message;
}

PeerMessage PeerMessage::logAppend(const QUuid& serverId, QList<WireLogLine> lines)
{
    PeerMessage message = ofType(Type::logAppend);
    message.serverId = serverId;
    message.lines = std::move(lines);
    return message;
}

PeerMessage PeerMessage::statusChange(const QUuid& serverId, WireStatus status, bool hasError)
{
    PeerMessage message = ofType(Type::statusChange);
    message.serverId = serverId;
    message.status = status;
    message.hasError = hasError;
    return message;
}

PeerMessage PeerMessage::commandAck(const QUuid& serverId, CommandAction action, bool ok, std::optional<QString> text)
{
    PeerMessage message = ofType(Type::commandAck);
    message.serverId = serverId;
    message.action = action;
    message.ok = ok;
    message.message = std::move(text);
    return message;
}

PeerMessage PeerMessage::notify(const QUuid& serverId, QString text)
{
    PeerMessage message = ofType(Type::notify);
    message.serverId = serverId;
    message.message = std::move(text);
    return message;
}

PeerMessage PeerMessage::requestSnapshot()
{
    return ofType(Type::requestSnapshot);
}

PeerMessage PeerMessage::subscribeLogs(std::optional<QUuid> serverId)
{
    PeerMessage message = ofType(Type::subscribeLogs);
    message.serverId = serverId;
    return message;
}

PeerMessage PeerMessage::command(const QUuid& serverId, CommandAction action)
{
    PeerMessage message = ofType(Type::command);
    message.serverId = serverId;
    message.action = action;
    return message;
}

std::optional<QByteArray> PeerMessage::encode() const
{
    Json::Writer writer;
    writer.beginObject();
    writer.key(QLatin1String("type"));
    writer.string(rawValue(type));
    if (serverId) {
        writer.key(QLatin1String("serverId"));
        writer.uuid(*serverId);
    }
    if (lines) {
        writer.key(QLatin1String("lines"));
        writer.beginArray();
        for (const WireLogLine& line : *lines)
            WireCodec::write(writer, line);
        writer.endArray();
    }
    if (status) {
        writer.key(QLatin1String("status"));
        writer.string(rawValue(*status));
    }
    if (hasError) {
        writer.key(QLatin1String("hasError"));
        writer.boolean(*hasError);
    }
    if (action) {
        writer.key(QLatin1String("action"));
        writer.string(rawValue(*action));
    }
    if (ok) {
        writer.key(QLatin1String("ok"));
        writer.boolean(*ok);
    }
    if (message) {
        writer.key(QLatin1String("message"));
        writer.string(*message);
    }
    if (snapshotRecord) {
        writer.key(QLatin1String("snapshot"));
        WireCodec::write(writer, *snapshotRecord);
    }
    writer.endObject();
    return writer.finish();
}

std::optional<PeerMessage> PeerMessage::decode(QByteArrayView json)
{
    const std::optional<Json::Value> document = Json::parse(json);
    if (!document)
        return std::nullopt;
    return readMessage(*document);
}

Expected<QString, RemoteCryptoError> PeerMessage::sealed(const ContentKey& key) const
{
    const std::optional<QByteArray> json = encode();
    if (!json)
        return RemoteCryptoError::sealFailed;
    Expected<QByteArray, RemoteCryptoError> combined = RemoteCrypto::seal(*json, key);
    if (!combined)
        return combined.error();
    return QString::fromLatin1(combined->toBase64());
}

Expected<OpenedMessage, RemoteCryptoError> PeerMessage::openedWithNonce(QStringView payload, const ContentKey& key)
{
    const std::optional<QByteArray> combined = decodeStrictBase64(payload);
    if (!combined)
        return RemoteCryptoError::sealFailed;
    const Expected<QByteArray, RemoteCryptoError> plaintext = RemoteCrypto::open(*combined, key);
    if (!plaintext)
        return plaintext.error();
    std::optional<PeerMessage> message = decode(*plaintext);
    if (!message)
        return RemoteCryptoError::decodingFailed;
    return OpenedMessage { std::move(*message), combined->first(RemoteCrypto::nonceSize) };
}

Expected<PeerMessage, RemoteCryptoError> PeerMessage::opened(QStringView payload, const ContentKey& key)
{
    Expected<OpenedMessage, RemoteCryptoError> opened = openedWithNonce(payload, key);
    if (!opened)
        return opened.error();
    return std::move(opened->message);
}

} // namespace Wardlamp
