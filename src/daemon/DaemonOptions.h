#pragma once

#include "common/Expected.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace Wardlamp {

// What the wardlampd command line asks for. parse() is pure: it reads only the
// arguments and never prints or exits.
struct DaemonOptions {
    enum class Action { run, showHelp, showVersion };
    enum class Colour { automatic, always, never };

    Action action = Action::run;
    // A JSON array of servers to run instead of the saved list ("-": standard input).
    std::optional<QString> serversFile;
    bool untilStopped = false;
    bool quiet = false;
    bool verbose = false; // debug and info messages of wardlamp's own categories
    Colour colour = Colour::automatic;
    std::chrono::milliseconds grace { 3000 };

    // The arguments include the program name first. On a usage error the
    // result holds a one-line message instead.
    static Expected<DaemonOptions, QString> parse(const QStringList& arguments);
    static QString helpText();

    friend bool operator==(const DaemonOptions&, const DaemonOptions&) = default;
};

// Exit statuses of wardlampd and its verbs, documented in its --help and the
// README.
namespace DaemonExit {
constexpr int ok = 0;
constexpr int serverFailed = 1; // a server ended in error, or a verb's action failed
constexpr int badInput = 2;
constexpr int missingPlugin = 3;
constexpr int alreadySupervised = 4; // another process supervises this configuration
constexpr int notRunning = 5; // the verb needs a running supervisor and none runs
constexpr int unreachable = 6; // the supervisor runs but its control socket does not answer
constexpr int unknownServer = 7; // no server, or more than one, fits the name given
// The configuration's lock and control socket cannot be set up: no private
// folder can be made for them, or the lock file cannot be locked.
constexpr int noControlFolder = 8;
} // namespace DaemonExit

} // namespace Wardlamp
