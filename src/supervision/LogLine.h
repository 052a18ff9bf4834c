#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

namespace Wardlamp {

// One line of a server's log: captured output or a status message of the
// manager. `seq` numbers the lines of one server from 1 upwards and never
// restarts, not across starts and not across clears, so a reader that remembers
// the last number it saw can take exactly the lines that followed. Logs keep
// their lines compactly (LogRing) and hand out LogLine values; `id` is derived
// from the server and `seq` (LogLineIds), the same on every read.
struct LogLine {
    QUuid id;
    QDateTime date;
    QString text;
    bool isError = false;
    quint64 seq = 0;

    friend bool operator==(const LogLine&, const LogLine&) = default;
};

} // namespace Wardlamp
