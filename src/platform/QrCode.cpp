#include "QrCode.h"

#include <qrencode.h>

#include <memory>

namespace Wardlamp {

std::optional<QrCode> QrCode::encode(const QByteArray& message)
{
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(
            int(message.size()), reinterpret_cast<const unsigned char*>(message.constData()), 0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code || code->width <= 0)
        return std::nullopt;
    QrCode result;
    result.m_size = code->width;
    result.m_version = code->version;
    result.m_modules.resize(qsizetype(code->width) * code->width);
    for (qsizetype i = 0; i < result.m_modules.size(); ++i)
        result.m_modules[i] = char(code->data[i] & 1);
    return result;
}

QString QrCode::toTerminalText(int quietZone, bool invert) const
{
    quietZone = std::max(quietZone, 0);
    const int side = m_size + 2 * quietZone;
    auto dark = [&](int x, int y) {
        const int mx = x - quietZone;
        const int my = y - quietZone;
        const bool module = mx >= 0 && my >= 0 && mx < m_size && my < m_size && isDark(mx, my);
        return module != invert;
    };
    QString text;
    text.reserve((side + 1) * (side / 2 + 1));
    for (int y = 0; y < side; y += 2) {
        for (int x = 0; x < side; ++x) {
            const bool top = dark(x, y);
            const bool bottom = y + 1 < side ? dark(x, y + 1) : invert;
            if (top && bottom)
                text += QChar(0x2588); // █
            else if (top)
                text += QChar(0x2580); // ▀
            else if (bottom)
                text += QChar(0x2584); // ▄
            else
                text += QLatin1Char(' ');
        }
        text += QLatin1Char('\n');
    }
    return text;
}

} // namespace Wardlamp
