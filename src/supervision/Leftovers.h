#pragma once

#include "supervision/ProcessInfo.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>

namespace Wardlamp {

// Servers that outlived the supervisor of their configuration. The supervisor
// dies with its direct children (PR_SET_PDEATHSIG), but a wrapper's child
// (npm run dev -> node) lives on after a `kill -9` and keeps the port. Every
// process a supervisor starts carries its configuration's tag in the
// environment (tagVariable); the next supervisor of that configuration finds
// the ones still running and stops them, before it starts anything itself.
class Leftovers {
public:
    static constexpr const char* tagVariable = "WARDLAMP_CONFIGURATION";

    // Processes of this user (never another's, never this process) whose
    // environment carries `tag`, and their descendants of this user.
    static QList<ProcessInfo> find(const QByteArray& tag);

    // SIGTERM to each, then SIGKILL to those still there after `grace`
    // (waited for through pidfds: no longer than they take). Returns those
    // that had to be killed.
    static QList<ProcessInfo> stop(const QList<ProcessInfo>& processes, std::chrono::milliseconds grace);

    // "Stopping 2 processes left running by an earlier run of this
    // configuration: PID 12 (node server.js), PID 13 (sleep 300)".
    static QString notice(const QList<ProcessInfo>& processes);
};

} // namespace Wardlamp
