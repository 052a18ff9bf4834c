#include "PlaceholderView.h"

#include "ui/logic/Tone.h"
#include "ui/widgets/Glyph.h"

#include <QPainter>

namespace Wardlamp {

namespace {

constexpr int glyphSize = 40;
constexpr int gap = 10;

} // namespace

PlaceholderView::PlaceholderView(const QString& glyph, const QString& title, QWidget* parent)
    : QWidget(parent)
    , m_glyph(glyph)
    , m_title(title)
{
    setAccessibleName(title);
    QFont titleFont = font();
    titleFont.setPointSizeF(titleFont.pointSizeF() > 0 ? titleFont.pointSizeF() * 1.35 : titleFont.pointSizeF());
    titleFont.setWeight(QFont::DemiBold);
    setFont(titleFont);
}

void PlaceholderView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor secondary = colorFor(Tone::secondary, palette());
    const QFontMetrics metrics(font());
    const int total = glyphSize + gap + metrics.height();
    const int top = (height() - total) / 2;
    painter.drawPixmap(
        (width() - glyphSize) / 2, top, Glyph::pixmap(m_glyph, glyphSize, secondary, devicePixelRatioF()));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(0, top + glyphSize + gap, width(), metrics.height()), Qt::AlignHCenter | Qt::AlignTop,
        metrics.elidedText(m_title, Qt::ElideRight, width() - 16));
}

} // namespace Wardlamp
