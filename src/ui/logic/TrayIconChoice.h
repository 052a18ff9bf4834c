#pragma once

#include <QString>

namespace Wardlamp {

// Which of the three tray icons shows the servers' state.
enum class TrayIconKind { idle, running, error };

// The tray icon's rule: an error anywhere beats a running server, which beats
// idle. The icons are ours (resources of the app, also installed into the
// hicolor theme), and a desktop theme may replace them by name.
class TrayIconChoice {
public:
    static TrayIconKind choose(bool anyError, bool anyRunning);
    // The freedesktop icon name: "wardlamp-idle", "wardlamp-running", "wardlamp-error".
    static QString themeName(TrayIconKind kind);
    // The built-in SVG of the kind (a Qt resource path).
    static QString resourcePath(TrayIconKind kind);
    // What a screen reader says about the icon's state, e.g. "Wardlamp: 2 running".
    static QString description(TrayIconKind kind, int runningCount);
};

} // namespace Wardlamp
