#include "TerminalPalette.h"

#include <array>

namespace Wardlamp {

namespace {

// The named colours, chosen for contrast against white (light) and against a
// near-black background (dark); yellow and white in particular would vanish
// on a light background in their usual terminal values.
constexpr std::array<QRgb, 16> lightColours {
    0xff000000, 0xffc4281c, 0xff1f7a2e, 0xff8a6a00, 0xff1f4fd1, 0xffa2279f, 0xff0f7283, 0xff6b6b6b, // 0–7
    0xff5a5a5a, 0xffe0372b, 0xff2a9a3c, 0xffa07c00, 0xff3a6cf0, 0xffc238bd, 0xff138ea3, 0xff3d3d3d, // 8–15
};
constexpr std::array<QRgb, 16> darkColours {
    0xff6e6e6e, 0xffff6b5e, 0xff5fd06a, 0xffe5c24a, 0xff6b9bff, 0xffe07ade, 0xff4fd0e0, 0xffd0d0d0, // 0–7
    0xff9a9a9a, 0xffff8a80, 0xff8ee89a, 0xfff5dc7a, 0xff9abaff, 0xfff0a0ee, 0xff86e8f2, 0xffffffff, // 8–15
};

QColor mixed(const QColor& a, const QColor& b, double share)
{
    return QColor::fromRgbF(float(a.redF() * share + b.redF() * (1 - share)),
        float(a.greenF() * share + b.greenF() * (1 - share)), float(a.blueF() * share + b.blueF() * (1 - share)));
}

} // namespace

QColor TerminalPalette::indexedColour(int index, bool dark)
{
    if (index < 0 || index > 255)
        return QColor();
    if (index < 16)
        return QColor::fromRgb(dark ? darkColours.at(index) : lightColours.at(index));
    if (index < 232) {
        // The 6×6×6 cube: levels 0, 95, 135, 175, 215, 255.
        const int cube = index - 16;
        auto level = [](int step) { return step == 0 ? 0 : 55 + step * 40; };
        return QColor(level(cube / 36), level((cube / 6) % 6), level(cube % 6));
    }
    const int grey = 8 + (index - 232) * 10;
    return QColor(grey, grey, grey);
}

QColor TerminalPalette::colour(const TerminalColour& colour, const QColor& standard, bool dark)
{
    switch (colour.kind) {
    case TerminalColour::Kind::standard:
        return standard;
    case TerminalColour::Kind::indexed:
        return indexedColour(colour.index, dark);
    case TerminalColour::Kind::rgb:
        return QColor::fromRgb(colour.rgb);
    }
    return standard;
}

QList<QTextLayout::FormatRange> TerminalPalette::formats(
    const StyledLine& line, const QColor& text, const QColor& base, bool dark, bool isError)
{
    QList<QTextLayout::FormatRange> ranges;
    ranges.reserve(line.runs.size());
    for (const StyledRun& run : line.runs) {
        const TextStyle& style = run.style;
        QTextCharFormat format;
        if (style.bold)
            format.setFontWeight(QFont::Bold);
        if (style.italic)
            format.setFontItalic(true);
        if (style.underline)
            format.setFontUnderline(true);
        if (style.strikeOut)
            format.setFontStrikeOut(true);
        QColor foreground = isError ? text : colour(style.foreground, text, dark);
        QColor background = isError ? QColor() : colour(style.background, QColor(), dark);
        if (style.inverse && !isError) {
            const QColor shownBackground = background.isValid() ? background : base;
            background = foreground;
            foreground = shownBackground;
        }
        if (style.dim)
            foreground = mixed(foreground, background.isValid() ? background : base, 0.55);
        if (foreground != text)
            format.setForeground(foreground);
        if (background.isValid())
            format.setBackground(background);
        if (format.isEmpty())
            continue;
        ranges.append(QTextLayout::FormatRange { int(run.start), int(run.length), format });
    }
    return ranges;
}

} // namespace Wardlamp
