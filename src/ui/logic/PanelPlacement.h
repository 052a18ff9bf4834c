#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace Wardlamp {

// Where the drop-down panel opens: under its anchor (the tray icon, or the
// pointer where the tray reports no geometry), or above it when there is not
// room below; centred on the anchor, and always inside the screen's available
// area (a panel taller than the area starts at its top).
class PanelPlacement {
public:
    // The anchor to use: the icon's geometry when the tray reports one that
    // lies on a screen, else a point at the pointer.
    static QRect anchor(const QRect& iconGeometry, const QPoint& pointer);
    static QPoint topLeft(const QRect& anchor, const QRect& available, const QSize& panel);
};

} // namespace Wardlamp
