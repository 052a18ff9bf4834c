#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

namespace Wardlamp {

// The panel's small monochrome symbols (link, logs, settings, power, tray,
// play, stop): our own SVGs, drawn in a colour of the caller's choice at the
// device pixel ratio of the screen, so they stay crisp at any scale.
class Glyph {
public:
    // `name` is a file of the icon resources without ".svg".
    static QPixmap pixmap(const QString& name, int logicalSize, const QColor& color, qreal devicePixelRatio);
};

} // namespace Wardlamp
