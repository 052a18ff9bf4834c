#include "Tone.h"

#include <QColor>
#include <QPalette>

namespace Wardlamp {

bool isDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

QColor colorFor(Tone tone, const QPalette& palette)
{
    const bool dark = isDarkPalette(palette);
    switch (tone) {
    case Tone::secondary: {
        // Between text and window: readable, clearly quieter than the title.
        QColor text = palette.color(QPalette::WindowText);
        const QColor window = palette.color(QPalette::Window);
        const double share = 0.62;
        return QColor::fromRgbF(float(text.redF() * share + window.redF() * (1 - share)),
            float(text.greenF() * share + window.greenF() * (1 - share)),
            float(text.blueF() * share + window.blueF() * (1 - share)));
    }
    case Tone::running:
        return dark ? QColor(0x2e, 0x9e, 0x4f) : QColor(0x1e, 0x85, 0x3e);
    case Tone::error:
        return dark ? QColor(0xe5, 0x48, 0x4d) : QColor(0xc9, 0x2a, 0x2a);
    case Tone::warning:
        return dark ? QColor(0xf0, 0x9a, 0x38) : QColor(0xb8, 0x5c, 0x00);
    case Tone::link: {
        const QColor link = palette.color(QPalette::Link);
        // Fusion's dark palettes often keep the light palette's dark blue link.
        if (dark && link.lightness() < 140)
            return QColor(0x6c, 0xb6, 0xff);
        return link;
    }
    }
    return palette.color(QPalette::WindowText);
}

} // namespace Wardlamp
