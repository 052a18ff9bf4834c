#pragma once

#include <QString>

namespace Wardlamp {

// WL_COLOR_SCHEME=dark|light: the Fusion style with a dark or light palette,
// for desktops whose Qt theme does not follow their dark mode. Anything else
// leaves the desktop's style alone. Call after the QApplication exists.
class ColorScheme {
public:
    // False (with nothing changed) for a value that is not "dark" or "light".
    static bool apply(const QString& scheme);
};

} // namespace Wardlamp
