#pragma once

#include "cli/ServerListing.h"
#include "remotekit/Snapshot.h"
#include "remotekit/WireLogLine.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace Wardlamp {

// How wardlamp-remote prints what it receives: a snapshot becomes the server
// listing every front door prints (ServerListing), a log line the shared log
// line text. Pure: the current time comes in.
class RemoteFormat {
public:
    RemoteFormat() = delete;

    static ServerRow row(const WireServer& server);
    static ServerListing listing(const Snapshot& snapshot);
    // The ls table, a header line first.
    static QString table(const Snapshot& snapshot, const QDateTime& now);
    // The ls --json document, one line.
    static QByteArray json(const Snapshot& snapshot, const QDateTime& now);
    // "HH:mm:ss  text", or "HH:mm:ss! text" for a line from standard error (local
    // time); control sequences in the text are dropped.
    static QString logLine(const WireLogLine& line);
    // "HH:mm:ss  text" for a status announcement received at `when`.
    static QString announcement(const QString& text, const QDateTime& when);
};

} // namespace Wardlamp
