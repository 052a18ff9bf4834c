#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace Wardlamp {

// What the wardlamp command line asks for. parse() is pure: it reads only the
// arguments and never prints or exits.
struct AppOptions {
    enum class Action { run, show, quit, showHelp, showVersion };
    // What --show opens in the running app (starting it first if none runs).
    enum class Surface { panel, logs, settings };

    Action action = Action::run;
    Surface surface = Surface::panel;
    // Started by the login's autostart entry: the tray only, and a tray that
    // is not there yet is waited for.
    bool autostarted = false;

    // The arguments include the program name first. On a usage error the
    // result holds a one-line message instead.
    static std::variant<AppOptions, QString> parse(const QStringList& arguments);
    static QString helpText();
    static QString surfaceName(Surface surface);
    // "panel", "logs" or "settings"; nothing for anything else.
    static std::optional<Surface> surfaceFromName(const QString& name);

    friend bool operator==(const AppOptions&, const AppOptions&) = default;
};

// Exit statuses of wardlamp, documented in its --help.
namespace AppExit {
constexpr int ok = 0;
constexpr int failed = 1; // no display to show anything on, or the running app did not answer
constexpr int badUsage = 2;
constexpr int otherSupervisor = 4; // wardlampd supervises this configuration
} // namespace AppExit

} // namespace Wardlamp
