#include "ServerListing.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include <algorithm>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

QString statusText(const ServerRow& row)
{
    QString text = ServerRow::statusWord(row.status);
    if (row.hasError && row.status != ServerRow::Status::error)
        text += u" (errors)"_s;
    return text;
}

QString portsText(const ServerRow& row)
{
    if (!row.ports || row.ports->isEmpty())
        return u"-"_s;
    QStringList ports;
    for (const quint16 port : *row.ports)
        ports.append(QString::number(port));
    return ports.join(u',');
}

} // namespace

QString ServerListing::duration(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    const qint64 days = seconds / 86400;
    const qint64 hours = seconds % 86400 / 3600;
    const qint64 minutes = seconds % 3600 / 60;
    const qint64 secs = seconds % 60;
    auto two = [](qint64 n) { return u"%1"_s.arg(n, 2, 10, QLatin1Char('0')); };
    if (days > 0)
        return u"%1d %2h"_s.arg(days).arg(hours);
    if (hours > 0)
        return u"%1h %2m"_s.arg(hours).arg(two(minutes));
    if (minutes > 0)
        return u"%1m %2s"_s.arg(minutes).arg(two(secs));
    return u"%1s"_s.arg(secs);
}

QString ServerListing::table(const QDateTime& now) const
{
    const bool withRestarts
        = std::any_of(servers.cbegin(), servers.cend(), [](const ServerRow& row) { return row.restarts.has_value(); });
    const bool withPorts
        = std::any_of(servers.cbegin(), servers.cend(), [](const ServerRow& row) { return row.ports.has_value(); });

    QStringList header { u"NAME"_s, u"STATUS"_s, u"PID"_s, u"UPTIME"_s };
    if (withRestarts)
        header.append(u"RESTARTS"_s);
    if (withPorts)
        header.append(u"PORTS"_s);
    header.append(u"ID"_s);

    QList<QStringList> rows { header };
    for (const ServerRow& server : servers) {
        const auto uptime = server.uptimeSeconds(now);
        QStringList row { server.name, statusText(server), server.pid ? QString::number(*server.pid) : u"-"_s,
            uptime ? duration(*uptime) : u"-"_s };
        if (withRestarts)
            row.append(server.restarts ? QString::number(*server.restarts) : u"-"_s);
        if (withPorts)
            row.append(portsText(server));
        row.append(server.id.toString(QUuid::WithoutBraces).toUpper());
        rows.append(row);
    }
    QList<qsizetype> widths(header.size(), 0);
    for (const QStringList& row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    QString out = u"%1: %2 server(s)\n"_s.arg(macName).arg(servers.size());
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        out += line + u'\n';
    }
    return out;
}

QByteArray ServerListing::json(const QDateTime& now) const
{
    return QJsonDocument(toJsonObject(now)).toJson(QJsonDocument::Compact);
}

QJsonObject ServerListing::toJsonObject(const QDateTime& now) const
{
    QJsonArray list;
    for (const ServerRow& server : servers)
        list.append(server.toJson(now));
    return {
        { u"macName"_s, macName },
        { u"generatedAt"_s, generatedAtMs },
        { u"servers"_s, list },
    };
}

std::optional<ServerListing> ServerListing::fromJson(QByteArrayView json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJsonObject(document.object());
}

std::optional<ServerListing> ServerListing::fromJsonObject(const QJsonObject& object)
{
    const QJsonValue name = object.value(QLatin1StringView("macName"));
    const QJsonValue generated = object.value(QLatin1StringView("generatedAt"));
    const QJsonValue list = object.value(QLatin1StringView("servers"));
    if (!name.isString() || !generated.isDouble() || !list.isArray())
        return std::nullopt;
    ServerListing listing;
    listing.macName = name.toString();
    listing.generatedAtMs = generated.toDouble();
    for (const QJsonValue value : list.toArray()) {
        auto row = value.isObject() ? ServerRow::fromJson(value.toObject()) : std::nullopt;
        if (!row)
            return std::nullopt;
        listing.servers.append(std::move(*row));
    }
    return listing;
}

} // namespace Wardlamp
