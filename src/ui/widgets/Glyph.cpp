#include "Glyph.h"

#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

namespace Wardlamp {

using namespace Qt::StringLiterals;

QPixmap Glyph::pixmap(const QString& name, int logicalSize, const QColor& color, qreal devicePixelRatio)
{
    const int pixels = qRound(logicalSize * devicePixelRatio);
    const QString key = u"wl-glyph:"_s + name + u':' + QString::number(pixels) + u':' + color.name(QColor::HexArgb);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;

    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QSvgRenderer renderer(u":/icons/"_s + name + u".svg"_s);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
        // Keep the shape, take the colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, result);
    return result;
}

} // namespace Wardlamp
