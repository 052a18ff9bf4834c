#include "WindowFonts.h"

#include <QApplication>
#include <QFontDatabase>

namespace Wardlamp {

namespace {

QFont scaledFrom(QFont font, qreal factor)
{
    const QFont base = QApplication::font();
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * factor);
    else
        font.setPixelSize(qMax(8, qRound(base.pixelSize() * factor)));
    return font;
}

QFont fixed()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    return font;
}

} // namespace

QFont WindowFonts::body()
{
    return QApplication::font();
}

QFont WindowFonts::headline()
{
    QFont font = QApplication::font();
    font.setWeight(QFont::Bold);
    return font;
}

QFont WindowFonts::caption()
{
    return scaledFrom(QApplication::font(), 0.9);
}

QFont WindowFonts::sectionTitle()
{
    QFont font = scaledFrom(QApplication::font(), 0.9);
    font.setWeight(QFont::Bold);
    return font;
}

QFont WindowFonts::monospaced()
{
    return scaledFrom(fixed(), 1.0);
}

QFont WindowFonts::monospacedCaption()
{
    return scaledFrom(fixed(), 0.9);
}

QFont WindowFonts::logLine()
{
    // The lines of a log a point below the body text, as a terminal's.
    return scaledFrom(fixed(), 12.0 / 13.0);
}

} // namespace Wardlamp
