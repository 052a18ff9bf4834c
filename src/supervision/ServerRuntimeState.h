#pragma once

#include "LogRing.h"
#include "ServerStatus.h"

#include <QDateTime>

#include <optional>

namespace Wardlamp {

// The runtime record of one server, owned by ServerManager on the main thread.
// A server without an entry reads as the default value: stopped, nothing set.
struct ServerRuntimeState {
    ServerStatus status = ServerStatus::stopped;
    std::optional<qint32> pid;
    LogRing logs; // captured output and status messages, oldest first, at most 2000
    bool hasError = false; // an error was seen since the last start, stop or clear
    std::optional<qint32> lastExitCode; // exit status, or signal number, of the last exit
    std::optional<QDateTime> startedAt;

    friend bool operator==(const ServerRuntimeState&, const ServerRuntimeState&) = default;
};

} // namespace Wardlamp
