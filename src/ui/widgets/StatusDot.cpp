#include "StatusDot.h"

#include "ui/logic/PanelLayout.h"

#include <QPainter>

namespace Wardlamp {

namespace {

void paintDot(QPainter& painter, const QRectF& box, const QColor& fill, const QColor& text)
{
    painter.setRenderHint(QPainter::Antialiasing);
    QColor rim = text;
    rim.setAlphaF(0.15f);
    painter.setPen(QPen(rim, 0.5));
    painter.setBrush(fill);
    painter.drawEllipse(box.adjusted(0.25, 0.25, -0.25, -0.25));
}

} // namespace

StatusDot::StatusDot(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(PanelLayout::dotSize, PanelLayout::dotSize);
    setAttribute(Qt::WA_TranslucentBackground);
}

void StatusDot::setTone(Tone tone)
{
    if (tone == m_tone)
        return;
    m_tone = tone;
    update();
}

void StatusDot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintDot(painter, QRectF(rect()), color(), palette().color(QPalette::WindowText));
}

QPixmap StatusDot::pixmap(Tone tone, const QPalette& palette, qreal devicePixelRatio, int size)
{
    // Centred in a square the size of a menu icon.
    const int box = 16;
    QPixmap image(qRound(box * devicePixelRatio), qRound(box * devicePixelRatio));
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const qreal offset = (box - size) / 2.0;
    paintDot(painter, QRectF(offset, offset, size, size), colorFor(tone, palette), palette.color(QPalette::WindowText));
    return image;
}

} // namespace Wardlamp
