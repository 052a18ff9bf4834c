#pragma once

#include <QDateTime>

namespace Wardlamp {

// A wall-clock instant as the relay protocol carries it: milliseconds since
// 1970-01-01T00:00:00Z as a double, fractions included, so a timestamp read from
// a peer is written back unchanged. Always finite once decoded.
struct WireTime {
    double msSinceEpoch = 0;

    static WireTime fromDateTime(const QDateTime& time);
    // Rounded to the millisecond, in UTC.
    QDateTime toDateTime() const;

    friend bool operator==(const WireTime&, const WireTime&) = default;
};

} // namespace Wardlamp
