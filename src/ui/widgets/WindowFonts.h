#pragma once

#include <QFont>

namespace Wardlamp {

// The fonts of the log and settings windows, relative to the application font
// as the panel's are (PanelFonts), so the desktop's choice of size carries
// through: the body is the application font, the log's lines a monospaced
// font a little smaller, captions smaller still.
class WindowFonts {
public:
    static QFont body();
    static QFont headline(); // a log's server name, a pane's title: body size, bold
    static QFont caption(); // notes under controls
    static QFont sectionTitle(); // "Startup", "Servers": caption size, bold
    static QFont monospaced(); // Command and Directory fields: body size
    static QFont monospacedCaption(); // the pairing key
    static QFont logLine(); // the log's lines
};

} // namespace Wardlamp
