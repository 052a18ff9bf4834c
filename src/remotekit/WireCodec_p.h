#pragma once

#include "JsonReader_p.h"
#include "JsonWriter_p.h"
#include "Snapshot.h"
#include "WireEnums.h"
#include "WireLogLine.h"
#include "WireServer.h"

#include <QUuid>

#include <optional>

// Shared pieces of the two JSON codecs: typed reads of one JSON value and the
// record readers and writers of the message codec.
namespace Wardlamp::WireCodec {

// Decoders of one present, non-null value. Nothing when the value has another
// type or is out of range.
std::optional<QString> asString(const Json::Value& value);
std::optional<bool> asBool(const Json::Value& value);
std::optional<qint64> asInt(const Json::Value& value);
std::optional<qint32> asInt32(const Json::Value& value);
std::optional<WireTime> asTime(const Json::Value& value);
// Canonical 8-4-4-4-12 form only, either case, no braces.
std::optional<QUuid> asUuid(const Json::Value& value);

template <typename Enum> std::optional<Enum> asEnum(const Json::Value& value)
{
    if (value.type != Json::Value::Type::string)
        return std::nullopt;
    return fromRawValue<Enum>(value.string);
}

// A required field: present and not null, and decodable.
template <typename T, typename Decode>
bool readRequired(const Json::Value& object, QLatin1String key, Decode decode, T& out)
{
    const Json::Value* value = object.find(key);
    if (!value || value->type == Json::Value::Type::null)
        return false;
    std::optional<T> decoded = decode(*value);
    if (!decoded)
        return false;
    out = std::move(*decoded);
    return true;
}

// An optional field: absent and null read as no value; anything else must decode.
template <typename T, typename Decode>
bool readOptional(const Json::Value& object, QLatin1String key, Decode decode, std::optional<T>& out)
{
    const Json::Value* value = object.find(key);
    if (!value || value->type == Json::Value::Type::null) {
        out.reset();
        return true;
    }
    std::optional<T> decoded = decode(*value);
    if (!decoded)
        return false;
    out = std::move(*decoded);
    return true;
}

template <typename T, typename Decode> std::optional<QList<T>> asArrayOf(const Json::Value& value, Decode decode)
{
    if (value.type != Json::Value::Type::array)
        return std::nullopt;
    QList<T> out;
    out.reserve(qsizetype(value.array.size()));
    for (const Json::Value& element : value.array) {
        std::optional<T> decoded = decode(element);
        if (!decoded)
            return std::nullopt;
        out.append(std::move(*decoded));
    }
    return out;
}

QString uuidText(const QUuid& id);

std::optional<WireLogLine> readLogLine(const Json::Value& value);
std::optional<WireServer> readServer(const Json::Value& value);
std::optional<Snapshot> readSnapshot(const Json::Value& value);

void write(Json::Writer& writer, const WireLogLine& line);
void write(Json::Writer& writer, const WireServer& server);
void write(Json::Writer& writer, const Snapshot& snapshot);

} // namespace Wardlamp::WireCodec
