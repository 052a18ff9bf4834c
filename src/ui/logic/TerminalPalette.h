#pragma once

#include "ui/logic/AnsiText.h"

#include <QColor>
#include <QList>
#include <QTextLayout>

class QPalette;

namespace Wardlamp {

// Turns the styles of a line of output into what the log view paints: the 16
// named colours tuned to stay readable on a light or a dark background, the
// 6×6×6 cube and the grey ramp of the 256 indexed colours, 24-bit colours as
// given; bold, italic, underline, strike-out; dim as the colour halfway to the
// background; inverse as swapped colours.
//
// An error line stays red: its own colours (and inverse) are not shown, its
// other attributes are. Pure.
class TerminalPalette {
public:
    // One of the 256 indexed colours for a light (`dark` false) or dark background.
    static QColor indexedColour(int index, bool dark);
    // The colour a TerminalColour stands for; `standard` for the terminal's own.
    static QColor colour(const TerminalColour& colour, const QColor& standard, bool dark);

    // The formats of a line's styled stretches, for QTextLayout. `text` is the
    // colour of plain text (red for an error line, which must be `isError`),
    // `base` the background the line is painted on.
    static QList<QTextLayout::FormatRange> formats(
        const StyledLine& line, const QColor& text, const QColor& base, bool dark, bool isError);
};

} // namespace Wardlamp
