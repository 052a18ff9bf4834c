#pragma once

#include "ServerRow.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class QDateTime;

namespace Wardlamp {

// A list of servers as `ls` prints it, the same for every front door: a title
// line, then a table, or one JSON document with --json. Pure: the current time
// comes in.
struct ServerListing {
    QString macName; // the computer the servers run on, as its remote name shows it
    QList<ServerRow> servers;
    double generatedAtMs = 0;

    // "42s", "3m 07s", "2h 05m", "3d 4h"; negative spans (clock skew) read as 0s.
    static QString duration(qint64 seconds);

    // "NAME: N server(s)", a header, one line per server. The RESTARTS and
    // PORTS columns appear only when some row knows them.
    QString table(const QDateTime& now) const;
    // {"macName", "generatedAt", "servers": [ServerRow JSON…]}, one line.
    QByteArray json(const QDateTime& now) const;
    QJsonObject toJsonObject(const QDateTime& now) const;
    // The reverse of json(); nothing when it is not such a document.
    static std::optional<ServerListing> fromJson(QByteArrayView json);
    static std::optional<ServerListing> fromJsonObject(const QJsonObject& object);
};

} // namespace Wardlamp
