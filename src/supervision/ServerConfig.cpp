#include "ServerConfig.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype uuidTextLength = 36;

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

QString missingOrNot(QLatin1StringView key, QLatin1StringView kind)
{
    return QString(u'"' + QString(key) + u"\" is missing or not a "_s + QString(kind));
}

// Reads a required string; nothing when absent or of another type.
std::optional<QString> requiredString(const QJsonObject& object, QLatin1StringView key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// Reads an optional key into `out`: absent and null leave it unset, a value of
// the wrong type is a failure (false).
bool readOptionalString(const QJsonObject& object, QLatin1StringView key, std::optional<QString>& out)
{
    const QJsonValue value = object.value(key);
    out.reset();
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

// A name as a one-line message shows it: control characters as spaces, and
// no longer than a line.
QString shownName(QString name)
{
    constexpr qsizetype longest = 60;
    if (name.size() > longest)
        name = name.left(longest - 1) + u'\u2026';
    for (QChar& c : name) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    return name;
}

} // namespace

QString uuidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> parseUuid(QStringView text)
{
    if (text.size() != uuidTextLength)
        return std::nullopt;
    for (qsizetype i = 0; i < uuidTextLength; ++i) {
        const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphenPlace ? text[i] != u'-' : !isHexDigit(text[i]))
            return std::nullopt;
    }
    // The text is well formed now, so this cannot fail; the nil UUID is a
    // valid text and comes back as the null QUuid.
    return QUuid::fromString(text);
}

std::optional<QUrl> ServerConfig::tunnelURL() const
{
    if (!tunnelHostname)
        return std::nullopt;
    QString text = *tunnelHostname;
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto isBlank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    text = text.mid(begin, end - begin);
    if (text.isEmpty())
        return std::nullopt;
    text.remove(u"https://"_s, Qt::CaseSensitive);
    text.remove(u"http://"_s, Qt::CaseSensitive);
    if (text.endsWith(u'/'))
        text.chop(1);
    const QUrl url(u"https://"_s + text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

QJsonObject ServerConfig::toJson() const
{
    QJsonObject object {
        { u"id"_s, uuidText(id) },
        { u"name"_s, name },
        { u"command"_s, command },
        { u"autostart"_s, autostart },
        { u"errorAlertEnabled"_s, errorAlertEnabled },
        { u"restartOnCrash"_s, restartOnCrash },
    };
    if (directory)
        object.insert(u"directory"_s, *directory);
    if (tunnelHostname)
        object.insert(u"tunnelHostname"_s, *tunnelHostname);
    return object;
}

Expected<ServerConfig, QString> ServerConfig::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return u"is not a JSON object"_s;
    const QJsonObject object = value.toObject();
    ServerConfig config;

    const QJsonValue idValue = object.value(QLatin1StringView("id"));
    if (!idValue.isString())
        return missingOrNot(QLatin1StringView("id"), QLatin1StringView("string"));
    const std::optional<QUuid> id = parseUuid(idValue.toString());
    if (!id)
        return u"\"id\" is not a UUID (expected 8-4-4-4-12 hexadecimal digits)"_s;
    config.id = *id;

    for (auto [key, field] : { std::pair { QLatin1StringView("name"), &ServerConfig::name },
             std::pair { QLatin1StringView("command"), &ServerConfig::command } }) {
        std::optional<QString> text = requiredString(object, key);
        if (!text)
            return missingOrNot(key, QLatin1StringView("string"));
        config.*field = std::move(*text);
    }

    for (auto [key, field] : { std::pair { QLatin1StringView("autostart"), &ServerConfig::autostart },
             std::pair { QLatin1StringView("errorAlertEnabled"), &ServerConfig::errorAlertEnabled } }) {
        const QJsonValue flag = object.value(key);
        if (!flag.isBool())
            return missingOrNot(key, QLatin1StringView("boolean"));
        config.*field = flag.toBool();
    }

    const QJsonValue restart = object.value(QLatin1StringView("restartOnCrash"));
    if (restart.isBool())
        config.restartOnCrash = restart.toBool();
    else if (!restart.isUndefined() && !restart.isNull())
        return u"\"restartOnCrash\" is not a boolean"_s;

    for (auto [key, field] : { std::pair { QLatin1StringView("directory"), &ServerConfig::directory },
             std::pair { QLatin1StringView("tunnelHostname"), &ServerConfig::tunnelHostname } }) {
        if (!readOptionalString(object, key, config.*field))
            return QString(u'"' + QString(key) + u"\" is not a string"_s);
    }
    return config;
}

QByteArray ServerConfig::encodeList(const QList<ServerConfig>& servers)
{
    QJsonArray array;
    for (const ServerConfig& server : servers)
        array.append(server.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

Expected<QList<ServerConfig>, QString> ServerConfig::decodeList(QByteArrayView json)
{
    const QByteArrayView text = json.trimmed();
    if (text.isEmpty())
        return u"not valid JSON: the text is empty"_s;
    // Only an array (or an object, for its parse error) is worth parsing: a
    // scalar document is valid JSON that QJsonDocument would call illegal.
    if (!text.startsWith('[') && !text.startsWith('{'))
        return u"not a JSON array of servers"_s;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return QString(
            u"not valid JSON (at byte "_s + QString::number(parseError.offset) + u"): "_s + parseError.errorString());
    if (!document.isArray())
        return u"not a JSON array of servers"_s;
    const QJsonArray array = document.array();
    QList<ServerConfig> servers;
    servers.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        Expected<ServerConfig, QString> server = fromJson(array.at(i));
        if (!server) {
            // The record's name, when it has one, tells it apart in a long list.
            QString problem = server.error();
            const QJsonValue name = array.at(i).toObject().value(QLatin1StringView("name"));
            if (name.isString())
                problem += u" (the server named \""_s + shownName(name.toString()) + u"\")"_s;
            return QString(u"record "_s + QString::number(i + 1) + u": "_s + problem);
        }
        servers.append(std::move(*server));
    }
    return servers;
}

namespace {

QString describeRecord(const QList<ServerConfig>& servers, qsizetype index)
{
    return u"%1 (\"%2\")"_s.arg(QString::number(index + 1), shownName(servers.at(index).name));
}

} // namespace

std::optional<QString> ServerConfig::duplicateIds(const QList<ServerConfig>& servers)
{
    QHash<QUuid, qsizetype> first;
    for (qsizetype i = 0; i < servers.size(); ++i) {
        const auto seen = first.constFind(servers[i].id);
        if (seen != first.cend())
            return u"records %1 and %2 have the same id %3; every server needs an id of its own"_s.arg(
                describeRecord(servers, *seen), describeRecord(servers, i), uuidText(servers[i].id));
        first.insert(servers[i].id, i);
    }
    return std::nullopt;
}

QStringList ServerConfig::dropDuplicateIds(QList<ServerConfig>& servers)
{
    QStringList dropped;
    QHash<QUuid, qsizetype> first;
    QList<ServerConfig> kept;
    for (qsizetype i = 0; i < servers.size(); ++i) {
        const auto seen = first.constFind(servers[i].id);
        if (seen != first.cend()) {
            dropped.append(u"record %1 has the id of record %2, which is kept"_s.arg(
                describeRecord(servers, i), describeRecord(servers, *seen)));
            continue;
        }
        first.insert(servers[i].id, i);
        kept.append(servers[i]);
    }
    servers = std::move(kept);
    return dropped;
}

} // namespace Wardlamp
