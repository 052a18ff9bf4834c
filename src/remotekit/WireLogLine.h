#pragma once

#include "WireTime.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUuid>

#include <optional>

namespace Wardlamp {

// One captured output line as the relay protocol carries it. JSON: "id" (UUID),
// "date" (milliseconds), "text", "isError", all required.
struct WireLogLine {
    QUuid id;
    WireTime date;
    QString text;
    bool isError = false;

    // Nothing only when `date` is not finite.
    std::optional<QByteArray> encode() const;
    static std::optional<WireLogLine> decode(QByteArrayView json);

    friend bool operator==(const WireLogLine&, const WireLogLine&) = default;
};

} // namespace Wardlamp
