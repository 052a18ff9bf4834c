#include "PanelPlacement.h"

#include <algorithm>

namespace Wardlamp {

QRect PanelPlacement::anchor(const QRect& iconGeometry, const QPoint& pointer)
{
    if (iconGeometry.isValid() && !iconGeometry.isEmpty())
        return iconGeometry;
    return QRect(pointer, QSize(1, 1));
}

QPoint PanelPlacement::topLeft(const QRect& anchor, const QRect& available, const QSize& panel)
{
    const int gap = 4;
    int x = anchor.center().x() - panel.width() / 2;
    // Right edge first, then left, so a panel wider than the area starts at its left.
    x = std::min(x, available.left() + available.width() - panel.width());
    x = std::max(x, available.left());

    const int below = anchor.bottom() + 1 + gap;
    const int above = anchor.top() - gap - panel.height();
    const int availableBottom = available.top() + available.height();
    int y;
    if (below + panel.height() <= availableBottom)
        y = std::max(below, available.top());
    else if (above >= available.top())
        y = std::min(above, availableBottom - panel.height());
    else
        y = availableBottom - panel.height();
    y = std::max(y, available.top());
    return QPoint(x, y);
}

} // namespace Wardlamp
