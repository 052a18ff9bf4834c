#pragma once

#include "WireServer.h"
#include "WireTime.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace Wardlamp {

// The full state of the desktop side: its name, every configured server in list
// order, and when it was taken. JSON: "macName", "servers" (may be empty),
// "generatedAt" (milliseconds), all required.
struct Snapshot {
    QString macName;
    QList<WireServer> servers;
    WireTime generatedAt;

    // Nothing only when a timestamp is not finite.
    std::optional<QByteArray> encode() const;
    static std::optional<Snapshot> decode(QByteArrayView json);

    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

} // namespace Wardlamp
