#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace Wardlamp {

// Makes one line of a server's output safe to write to a terminal as one
// terminal line. Colours (SGR: ESC [ digits ; … m) pass through when
// `keepColour`, followed by a reset so they end with the line; every other
// control sequence (cursor moves, screen clears, titles, hyperlinks, device
// queries: CSI, OSC, DCS and the like, in their 7- and 8-bit forms) and every
// control character but the tab (carriage return, backspace, bell, line feed)
// is dropped, and an unfinished sequence at the end of the line with it. The
// text stays valid UTF-8 if it was. Pure.
class TerminalText {
public:
    static void append(QByteArray& out, QByteArrayView text, bool keepColour);
    static QByteArray sanitize(QByteArrayView text, bool keepColour);

    // Whether the text holds anything append() would drop or change.
    static bool isPlain(QByteArrayView text);
};

} // namespace Wardlamp
