#pragma once

#include "platform/QrCode.h"

#include <QImage>

#include <cmath>

namespace Wardlamp {

// The QR code as a bitmap: each module `scale` × `scale` pixels, black on white,
// no quiet zone (the view leaves its own margin). Header-only so that this
// library stays free of Qt Gui; include it from code that links Qt6::Gui.
inline QImage qrImage(const QrCode& code, double scale)
{
    const int pixels = std::max(1, int(std::lround(scale)));
    QImage image(code.size() * pixels, code.size() * pixels, QImage::Format_Mono);
    image.setColor(0, qRgb(255, 255, 255));
    image.setColor(1, qRgb(0, 0, 0));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, code.isDark(x / pixels, y / pixels) ? 1 : 0);
    return image;
}

} // namespace Wardlamp
