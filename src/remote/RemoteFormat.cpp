#include "RemoteFormat.h"

#include "remotekit/WireEnums.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QUuid>

#include <algorithm>

namespace Wardlamp {

namespace {
QString idText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString statusText(const WireServer& server)
{
    QString text = QString(rawValue(server.status));
    if (server.hasError && server.status != WireStatus::error)
        text += QStringLiteral(" (errors)");
    return text;
}
} // namespace

QString RemoteFormat::duration(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    const qint64 days = seconds / 86400;
    const qint64 hours = seconds % 86400 / 3600;
    const qint64 minutes = seconds % 3600 / 60;
    const qint64 secs = seconds % 60;
    auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (days > 0)
        return QStringLiteral("%1d %2h").arg(days).arg(hours);
    if (hours > 0)
        return QStringLiteral("%1h %2m").arg(hours).arg(two(minutes));
    if (minutes > 0)
        return QStringLiteral("%1m %2s").arg(minutes).arg(two(secs));
    return QStringLiteral("%1s").arg(secs);
}

std::optional<qint64> RemoteFormat::uptimeSeconds(const WireServer& server, const QDateTime& now)
{
    if (server.status != WireStatus::running || !server.startedAt)
        return std::nullopt;
    return std::max<qint64>(0, server.startedAt->toDateTime().secsTo(now));
}

QString RemoteFormat::table(const Snapshot& snapshot, const QDateTime& now)
{
    const QStringList header { QStringLiteral("NAME"), QStringLiteral("STATUS"), QStringLiteral("PID"),
        QStringLiteral("UPTIME"), QStringLiteral("ID") };
    QList<QStringList> rows { header };
    for (const WireServer& server : snapshot.servers) {
        const auto uptime = uptimeSeconds(server, now);
        rows.append({ server.name, statusText(server), server.pid ? QString::number(*server.pid) : QStringLiteral("-"),
            uptime ? duration(*uptime) : QStringLiteral("-"), idText(server.id) });
    }
    QList<qsizetype> widths(header.size(), 0);
    for (const QStringList& row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    QString out = QStringLiteral("%1: %2 server(s)\n").arg(snapshot.macName).arg(snapshot.servers.size());
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        out += line + QLatin1Char('\n');
    }
    return out;
}

QByteArray RemoteFormat::json(const Snapshot& snapshot, const QDateTime& now)
{
    QJsonArray servers;
    for (const WireServer& server : snapshot.servers) {
        QJsonObject object {
            { QStringLiteral("id"), idText(server.id) },
            { QStringLiteral("name"), server.name },
            { QStringLiteral("command"), server.command },
            { QStringLiteral("status"), QString(rawValue(server.status)) },
            { QStringLiteral("hasError"), server.hasError },
        };
        if (server.directory)
            object.insert(QStringLiteral("directory"), *server.directory);
        if (server.tunnelHostname)
            object.insert(QStringLiteral("tunnelHostname"), *server.tunnelHostname);
        if (server.pid)
            object.insert(QStringLiteral("pid"), *server.pid);
        if (server.startedAt)
            object.insert(QStringLiteral("startedAt"), server.startedAt->msSinceEpoch);
        if (const auto uptime = uptimeSeconds(server, now))
            object.insert(QStringLiteral("uptimeSeconds"), *uptime);
        if (server.lastExitCode)
            object.insert(QStringLiteral("lastExitCode"), *server.lastExitCode);
        servers.append(object);
    }
    const QJsonObject document {
        { QStringLiteral("macName"), snapshot.macName },
        { QStringLiteral("generatedAt"), snapshot.generatedAt.msSinceEpoch },
        { QStringLiteral("servers"), servers },
    };
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

QString RemoteFormat::logLine(const WireLogLine& line)
{
    return line.date.toDateTime().toLocalTime().toString(QStringLiteral("HH:mm:ss"))
        + (line.isError ? QStringLiteral("! ") : QStringLiteral("  ")) + line.text;
}

QString RemoteFormat::announcement(const QString& text, const QDateTime& when)
{
    return when.toLocalTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + text;
}

} // namespace Wardlamp
