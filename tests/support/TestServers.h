#pragma once

#include "supervision/ServerConfig.h"

#include <QString>
#include <QUuid>

namespace Wardlamp::Test {

// What a test's server record sets beyond its name and command.
struct ServerFlags {
    bool autostart = false;
    bool restartOnCrash = false;
    bool errorAlertEnabled = false;
};

// A server record with a fresh id. Without a command it gets "run NAME", a
// command for records that are stored and compared, never started.
// Header-only: for the tests of targets that link the supervision library.
inline ServerConfig server(const QString& name, const QString& command = {}, ServerFlags flags = {})
{
    ServerConfig config;
    config.id = QUuid::createUuid();
    config.name = name;
    config.command = command.isNull() ? QStringLiteral("run ") + name : command;
    config.autostart = flags.autostart;
    config.restartOnCrash = flags.restartOnCrash;
    config.errorAlertEnabled = flags.errorAlertEnabled;
    return config;
}

} // namespace Wardlamp::Test
