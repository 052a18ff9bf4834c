#include "Envelope.h"

#include "WireCodec_p.h"
#include "WireEnums_p.h"

namespace Wardlamp {

namespace {
using Kind = Envelope::Kind;

constexpr RawTable<Kind, 7> kinds { {
    { Kind::welcome, "welcome" },
    { Kind::peerJoin, "peerJoin" },
    { Kind::peerLeave, "peerLeave" },
    { Kind::msg, "msg" },
    { Kind::ping, "ping" },
    { Kind::pong, "pong" },
    // The one raw value that is not the case name.
    { Kind::registerDevice, "register-device" },
} };

std::optional<QStringList> asStringList(const Json::Value& value)
{
    return WireCodec::asArrayOf<QString>(value, WireCodec::asString);
}

void writeOptional(Json::Writer& writer, QLatin1String key, const std::optional<QString>& value)
{
    if (value) {
        writer.key(key);
        writer.string(*value);
    }
}

void writeOptional(Json::Writer& writer, QLatin1String key, const std::optional<bool>& value)
{
    if (value) {
        writer.key(key);
        writer.boolean(*value);
    }
}
} // namespace

QLatin1String rawValue(Envelope::Kind kind)
{
    return rawOf(kinds, kind);
}

template <> std::optional<Envelope::Kind> fromRawValue<Envelope::Kind>(QStringView raw)
{
    return caseOf(kinds, raw);
}

Envelope Envelope::message(PeerRole role, QString payload, bool cache, std::optional<QString> tag)
{
    Envelope envelope;
    envelope.v = 1;
    envelope.kind = Kind::msg;
    envelope.role = role;
    envelope.payload = std::move(payload);
    if (cache)
        envelope.cache = true;
    if (tag) {
        envelope.tag = std::move(tag);
        envelope.notify = true;
    }
    return envelope;
}

QByteArray Envelope::encode() const
{
    Json::Writer writer;
    writer.beginObject();
    writer.key(QLatin1String("v"));
    writer.integer(v);
    writer.key(QLatin1String("kind"));
    writer.string(rawValue(kind));
    if (role) {
        writer.key(QLatin1String("role"));
        writer.string(rawValue(*role));
    }
    writeOptional(writer, QLatin1String("payload"), payload);
    writeOptional(writer, QLatin1String("cache"), cache);
    writeOptional(writer, QLatin1String("online"), online);
    writeOptional(writer, QLatin1String("deviceToken"), deviceToken);
    if (tags) {
        writer.key(QLatin1String("tags"));
        writer.beginArray();
        for (const QString& t : *tags)
            writer.string(t);
        writer.endArray();
    }
    writeOptional(writer, QLatin1String("tag"), tag);
    writeOptional(writer, QLatin1String("notify"), notify);
    if (controllers) {
        writer.key(QLatin1String("controllers"));
        writer.integer(*controllers);
    }
    writer.endObject();
    // An envelope holds no numbers but an integer, so writing cannot fail.
    return writer.finish().value_or(QByteArray());
}

std::optional<Envelope> Envelope::decode(QByteArrayView json)
{
    using namespace WireCodec;
    const std::optional<Json::Value> document = Json::parse(json);
    if (!document || document->type != Json::Value::Type::object)
        return std::nullopt;
    const Json::Value& value = *document;
    Envelope envelope;
    if (!readRequired(value, QLatin1String("v"), asInt, envelope.v)
        || !readRequired(value, QLatin1String("kind"), asEnum<Kind>, envelope.kind)
        || !readOptional(value, QLatin1String("role"), asEnum<PeerRole>, envelope.role)
        || !readOptional(value, QLatin1String("payload"), asString, envelope.payload)
        || !readOptional(value, QLatin1String("cache"), asBool, envelope.cache)
        || !readOptional(value, QLatin1String("online"), asBool, envelope.online)
        || !readOptional(value, QLatin1String("deviceToken"), asString, envelope.deviceToken)
        || !readOptional(value, QLatin1String("tags"), asStringList, envelope.tags)
        || !readOptional(value, QLatin1String("tag"), asString, envelope.tag)
        || !readOptional(value, QLatin1String("notify"), asBool, envelope.notify))
        return std::nullopt;
    // An addition of our relay: never a reason to drop the envelope.
    if (const Json::Value* count = value.find(QLatin1String("controllers"))) {
        if (const std::optional<qint64> n = asInt(*count); n && *n >= 0)
            envelope.controllers = n;
    }
    return envelope;
}

} // namespace Wardlamp
