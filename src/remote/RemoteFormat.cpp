#include "RemoteFormat.h"

#include "cli/LogLineText.h"
#include "cli/TerminalText.h"

namespace Wardlamp {

namespace {

ServerRow::Status rowStatus(WireStatus status)
{
    switch (status) {
    case WireStatus::stopped:
        return ServerRow::Status::stopped;
    case WireStatus::running:
        return ServerRow::Status::running;
    case WireStatus::error:
        return ServerRow::Status::error;
    }
    return ServerRow::Status::stopped;
}

} // namespace

ServerRow RemoteFormat::row(const WireServer& server)
{
    ServerRow row;
    row.id = server.id;
    row.name = server.name;
    row.command = server.command;
    row.directory = server.directory;
    row.tunnelHostname = server.tunnelHostname;
    row.status = rowStatus(server.status);
    row.hasError = server.hasError;
    row.pid = server.pid;
    if (server.startedAt)
        row.startedAtMs = server.startedAt->msSinceEpoch;
    row.lastExitCode = server.lastExitCode;
    return row;
}

ServerListing RemoteFormat::listing(const Snapshot& snapshot)
{
    ServerListing listing;
    listing.macName = snapshot.macName;
    listing.generatedAtMs = snapshot.generatedAt.msSinceEpoch;
    for (const WireServer& server : snapshot.servers)
        listing.servers.append(row(server));
    return listing;
}

QString RemoteFormat::table(const Snapshot& snapshot, const QDateTime& now)
{
    return listing(snapshot).table(now);
}

QByteArray RemoteFormat::json(const Snapshot& snapshot, const QDateTime& now)
{
    return listing(snapshot).json(now);
}

QString RemoteFormat::logLine(const WireLogLine& line)
{
    const QString text = QString::fromUtf8(TerminalText::sanitize(line.text.toUtf8(), false));
    return LogLineText::format(line.date.toDateTime(), line.isError, text);
}

QString RemoteFormat::announcement(const QString& text, const QDateTime& when)
{
    return when.toLocalTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + text;
}

} // namespace Wardlamp
