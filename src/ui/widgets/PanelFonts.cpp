#include "PanelFonts.h"

#include <QApplication>

namespace Wardlamp {

namespace {

QFont scaled(qreal factor, QFont::Weight weight = QFont::Normal)
{
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qMax(8, qRound(font.pixelSize() * factor)));
    font.setWeight(weight);
    return font;
}

} // namespace

QFont PanelFonts::title()
{
    return scaled(1.0, QFont::Medium);
}

QFont PanelFonts::callout()
{
    return scaled(1.0);
}

QFont PanelFonts::caption()
{
    return scaled(0.9);
}

QFont PanelFonts::captionTwo()
{
    return scaled(0.86);
}

} // namespace Wardlamp
