#pragma once

#include "WireEnums.h"
#include "WireTime.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUuid>

#include <optional>

namespace Wardlamp {

// One configured server with its runtime state, as the relay protocol carries
// it. JSON: "id", "name", "command", "status", "hasError" required; "directory",
// "tunnelHostname", "pid" and "lastExitCode" (signed 32-bit), "startedAt"
// (milliseconds) optional, left out when absent.
struct WireServer {
    QUuid id;
    QString name;
    QString command;
    std::optional<QString> directory;
    std::optional<QString> tunnelHostname;
    WireStatus status = WireStatus::stopped;
    bool hasError = false;
    std::optional<qint32> pid;
    std::optional<WireTime> startedAt;
    std::optional<qint32> lastExitCode;

    // Nothing only when `startedAt` is not finite.
    std::optional<QByteArray> encode() const;
    static std::optional<WireServer> decode(QByteArrayView json);

    friend bool operator==(const WireServer&, const WireServer&) = default;
};

} // namespace Wardlamp
