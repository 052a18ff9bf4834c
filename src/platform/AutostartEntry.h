#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace Wardlamp {

// The XDG autostart entry that launches Wardlamp at login: a desktop entry
// file in $XDG_CONFIG_HOME/autostart/. What such a file says, and what ours
// holds, decided from its bytes alone.
class AutostartEntry {
public:
    static constexpr QLatin1StringView fileName { "wardlamp.desktop" };
    // The program name that makes an entry ours, whatever folder it is in.
    static constexpr QLatin1StringView programName { "wardlamp" };
    // Passed by the entry, so the app knows it was started at login.
    static constexpr QLatin1StringView autostartArgument { "--autostart" };

    enum class State {
        absent, // no file
        enabled, // ours, and the desktop will run it
        disabled, // ours, but Hidden=true or X-GNOME-Autostart-enabled=false
        foreign, // a file of this name that runs another program, or none
        unreadable, // there, but it cannot be read
    };

    // What an existing file's contents mean.
    static State classify(const QByteArray& content);

    // Our entry, launching `programPath` (absolute) with the autostart argument.
    static QByteArray content(const QString& programPath);

    // The Exec value that runs `programPath` with `arguments`: each word quoted
    // where the desktop entry rules need it, then escaped as a string value.
    static QString execValue(const QString& programPath, const QStringList& arguments);
    // The program (first word) of an Exec value (as found in the file, still
    // escaped), or nothing when it cannot be read.
    static std::optional<QString> execProgram(const QString& value);
};

} // namespace Wardlamp
