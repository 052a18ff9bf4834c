#include "WireTime.h"

#include <cmath>

namespace Wardlamp {

WireTime WireTime::fromDateTime(const QDateTime& time)
{
    return WireTime { static_cast<double>(time.toMSecsSinceEpoch()) };
}

QDateTime WireTime::toDateTime() const
{
    // Beyond a few hundred million years QDateTime holds nothing meaningful; an
    // invalid QDateTime says so instead of an overflowed conversion.
    constexpr double limit = 8.64e15 * 1000;
    if (!std::isfinite(msSinceEpoch) || std::abs(msSinceEpoch) > limit)
        return {};
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(msSinceEpoch)), Qt::UTC);
}

} // namespace Wardlamp
