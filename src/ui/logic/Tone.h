#pragma once

class QColor;
class QPalette;

namespace Wardlamp {

// The few colours the panel and menu use, by meaning. Widgets turn a tone
// into a colour with colorFor(), so light and dark palettes are decided here.
enum class Tone {
    secondary, // stopped dots, status words, the header
    running, // green: running dots, the Start button
    error, // red: error dots and words, the Stop button
    link, // tunnel links
    warning, // orange: the remote agent's error status
};

// The colour of a tone on this palette. Green and red stay the same hue on
// light and dark palettes but are chosen to keep white text on them readable
// (contrast at least 4.5:1) and to stand out on either background.
QColor colorFor(Tone tone, const QPalette& palette);

// Whether the palette is a dark one (light text on a dark window).
bool isDarkPalette(const QPalette& palette);

} // namespace Wardlamp
