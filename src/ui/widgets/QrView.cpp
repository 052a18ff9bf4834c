#include "QrView.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace Wardlamp {

QrView::QrView(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(side, side);
}

void QrView::setImage(const QImage& image)
{
    m_image = image;
    update();
}

void QrView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 6, 6);
    painter.fillPath(clip, Qt::white);
    if (m_image.isNull())
        return;

    // Whole device pixels per image pixel, centred, leaving a quiet zone of
    // about four modules' width for scanners.
    const qreal ratio = devicePixelRatioF();
    const int devicePixels = int(std::floor(side * ratio));
    const int quiet = int(std::ceil(devicePixels * 0.06));
    const int scale = std::max(1, (devicePixels - 2 * quiet) / std::max(1, m_image.width()));
    const int drawn = m_image.width() * scale;
    const QImage scaled = m_image.scaled(drawn, drawn, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const qreal offset = std::floor((devicePixels - drawn) / 2.0) / ratio;
    painter.drawImage(QRectF(offset, offset, drawn / ratio, drawn / ratio), scaled);
}

} // namespace Wardlamp
