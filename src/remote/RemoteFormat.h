#pragma once

#include "remotekit/Snapshot.h"
#include "remotekit/WireLogLine.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace Wardlamp {

// How wardlamp-remote prints what it receives. Pure: the current time comes in.
class RemoteFormat {
public:
    RemoteFormat() = delete;

    // "42s", "3m 07s", "2h 05m", "3d 4h"; negative spans (clock skew) read as 0s.
    static QString duration(qint64 seconds);
    // Seconds a running server has been up, or nothing when it is not running or
    // has no start time.
    static std::optional<qint64> uptimeSeconds(const WireServer& server, const QDateTime& now);
    // The ls table, a header line first.
    static QString table(const Snapshot& snapshot, const QDateTime& now);
    // The ls --json document, one line.
    static QByteArray json(const Snapshot& snapshot, const QDateTime& now);
    // "HH:mm:ss  text", or "HH:mm:ss! text" for a line from standard error (local time).
    static QString logLine(const WireLogLine& line);
    // "HH:mm:ss  text" for a status announcement received at `when`.
    static QString announcement(const QString& text, const QDateTime& when);
};

} // namespace Wardlamp
