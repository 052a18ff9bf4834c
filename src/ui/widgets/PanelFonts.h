#pragma once

#include <QFont>

namespace Wardlamp {

// The panel's fonts, relative to the application font so that the desktop's
// choice of size carries through.
class PanelFonts {
public:
    static QFont title(); // server names: the body size, medium weight
    static QFont callout();
    static QFont caption(); // the header, buttons
    static QFont captionTwo(); // subtitles
};

} // namespace Wardlamp
