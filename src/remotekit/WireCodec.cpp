#include "WireCodec_p.h"

namespace Wardlamp::WireCodec {

namespace {
bool isHex(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

void writeUuid(Json::Writer& writer, QLatin1String key, const QUuid& id)
{
    writer.key(key);
    writer.uuid(id);
}
} // namespace

std::optional<QString> asString(const Json::Value& value)
{
    if (value.type != Json::Value::Type::string)
        return std::nullopt;
    return value.string;
}

std::optional<bool> asBool(const Json::Value& value)
{
    if (value.type != Json::Value::Type::boolean)
        return std::nullopt;
    return value.boolean;
}

std::optional<qint64> asInt(const Json::Value& value)
{
    if (value.type != Json::Value::Type::number || !value.integral)
        return std::nullopt;
    return value.integer;
}

std::optional<qint32> asInt32(const Json::Value& value)
{
    const std::optional<qint64> integer = asInt(value);
    if (!integer || *integer < std::numeric_limits<qint32>::min() || *integer > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(*integer);
}

std::optional<WireTime> asTime(const Json::Value& value)
{
    if (value.type != Json::Value::Type::number)
        return std::nullopt;
    return WireTime { value.number };
}

std::optional<QUuid> asUuid(const Json::Value& value)
{
    if (value.type != Json::Value::Type::string)
        return std::nullopt;
    const QString& text = value.string;
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < 36; ++i) {
        const char16_t c = text.at(i).unicode();
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != u'-' : !isHex(c))
            return std::nullopt;
    }
    return QUuid::fromString(text);
}

QString uuidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<WireLogLine> readLogLine(const Json::Value& value)
{
    if (value.type != Json::Value::Type::object)
        return std::nullopt;
    WireLogLine line;
    if (!readRequired(value, QLatin1String("id"), asUuid, line.id)
        || !readRequired(value, QLatin1String("date"), asTime, line.date)
        || !readRequired(value, QLatin1String("text"), asString, line.text)
        || !readRequired(value, QLatin1String("isError"), asBool, line.isError))
        return std::nullopt;
    return line;
}

std::optional<WireServer> readServer(const Json::Value& value)
{
    if (value.type != Json::Value::Type::object)
        return std::nullopt;
    WireServer server;
    if (!readRequired(value, QLatin1String("id"), asUuid, server.id)
        || !readRequired(value, QLatin1String("name"), asString, server.name)
        || !readRequired(value, QLatin1String("command"), asString, server.command)
        || !readOptional(value, QLatin1String("directory"), asString, server.directory)
        || !readOptional(value, QLatin1String("tunnelHostname"), asString, server.tunnelHostname)
        || !readRequired(value, QLatin1String("status"), asEnum<WireStatus>, server.status)
        || !readRequired(value, QLatin1String("hasError"), asBool, server.hasError)
        || !readOptional(value, QLatin1String("pid"), asInt32, server.pid)
        || !readOptional(value, QLatin1String("startedAt"), asTime, server.startedAt)
        || !readOptional(value, QLatin1String("lastExitCode"), asInt32, server.lastExitCode))
        return std::nullopt;
    return server;
}

std::optional<Snapshot> readSnapshot(const Json::Value& value)
{
    if (value.type != Json::Value::Type::object)
        return std::nullopt;
    Snapshot snapshot;
    const auto asServers = [](const Json::Value& v) { return asArrayOf<WireServer>(v, readServer); };
    if (!readRequired(value, QLatin1String("macName"), asString, snapshot.macName)
        || !readRequired(value, QLatin1String("servers"), asServers, snapshot.servers)
        || !readRequired(value, QLatin1String("generatedAt"), asTime, snapshot.generatedAt))
        return std::nullopt;
    return snapshot;
}

void write(Json::Writer& writer, const WireLogLine& line)
{
    writer.beginObject();
    writeUuid(writer, QLatin1String("id"), line.id);
    writer.key(QLatin1String("date"));
    writer.number(line.date.msSinceEpoch);
    writer.key(QLatin1String("text"));
    writer.string(line.text);
    writer.key(QLatin1String("isError"));
    writer.boolean(line.isError);
    writer.endObject();
}

void write(Json::Writer& writer, const WireServer& server)
{
    writer.beginObject();
    writeUuid(writer, QLatin1String("id"), server.id);
    writer.key(QLatin1String("name"));
    writer.string(server.name);
    writer.key(QLatin1String("command"));
    writer.string(server.command);
    if (server.directory) {
        writer.key(QLatin1String("directory"));
        writer.string(*server.directory);
    }
    if (server.tunnelHostname) {
        writer.key(QLatin1String("tunnelHostname"));
        writer.string(*server.tunnelHostname);
    }
    writer.key(QLatin1String("status"));
    writer.string(rawValue(server.status));
    writer.key(QLatin1String("hasError"));
    writer.boolean(server.hasError);
    if (server.pid) {
        writer.key(QLatin1String("pid"));
        writer.integer(*server.pid);
    }
    if (server.startedAt) {
        writer.key(QLatin1String("startedAt"));
        writer.number(server.startedAt->msSinceEpoch);
    }
    if (server.lastExitCode) {
        writer.key(QLatin1String("lastExitCode"));
        writer.integer(*server.lastExitCode);
    }
    writer.endObject();
}

void write(Json::Writer& writer, const Snapshot& snapshot)
{
    writer.beginObject();
    writer.key(QLatin1String("macName"));
    writer.string(snapshot.macName);
    writer.key(QLatin1String("servers"));
    writer.beginArray();
    for (const WireServer& server : snapshot.servers)
        write(writer, server);
    writer.endArray();
    writer.key(QLatin1String("generatedAt"));
    writer.number(snapshot.generatedAt.msSinceEpoch);
    writer.endObject();
}

} // namespace Wardlamp::WireCodec

namespace Wardlamp {

namespace {
template <typename Record> std::optional<QByteArray> encodeRecord(const Record& record)
{
    Json::Writer writer;
    WireCodec::write(writer, record);
    return writer.finish();
}

template <typename Record, typename Read> std::optional<Record> decodeRecord(QByteArrayView json, Read read)
{
    const std::optional<Json::Value> document = Json::parse(json);
    if (!document)
        return std::nullopt;
    return read(*document);
}
} // namespace

std::optional<QByteArray> WireLogLine::encode() const
{
    return encodeRecord(*this);
}
std::optional<WireLogLine> WireLogLine::decode(QByteArrayView json)
{
    return decodeRecord<WireLogLine>(json, WireCodec::readLogLine);
}

std::optional<QByteArray> WireServer::encode() const
{
    return encodeRecord(*this);
}
std::optional<WireServer> WireServer::decode(QByteArrayView json)
{
    return decodeRecord<WireServer>(json, WireCodec::readServer);
}

std::optional<QByteArray> Snapshot::encode() const
{
    return encodeRecord(*this);
}
std::optional<Snapshot> Snapshot::decode(QByteArrayView json)
{
    return decodeRecord<Snapshot>(json, WireCodec::readSnapshot);
}

} // namespace Wardlamp
