#pragma once

#include <QString>

#include <memory>

class QProcessEnvironment;
class QSettings;

namespace Wardlamp {

// Where the desktop app and the daemon keep their settings:
// $XDG_CONFIG_HOME/wardlamp/wardlamp.conf, with ~/.config standing in for an
// unset, empty or relative XDG_CONFIG_HOME. One INI file, shared by both.
class SettingsLocation {
public:
    static QString filePath();
    static QString filePath(const QProcessEnvironment& environment, const QString& home);
    // $XDG_CONFIG_HOME, or ~/.config for an unset, empty or relative value.
    static QString configHome(const QProcessEnvironment& environment, const QString& home);
    // Settings on filePath() in INI format.
    static std::unique_ptr<QSettings> open();
};

} // namespace Wardlamp
