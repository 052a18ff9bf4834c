#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace Wardlamp {

// A line of a server's output without its escape sequences: what error and
// port detection look at, and what goes on the wire to a controller, while
// the stored line keeps its colours for the log window. Colour changes, other
// escape and control sequences (7-bit and 8-bit forms) and control characters
// but the tab are dropped; ControlSequenceScanner decides what is what. Pure.
class PlainText {
public:
    // Whether the line holds anything strip() would drop: ESC, a C1 control
    // (U+0080–U+009F as UTF-8) or another control character but the tab.
    static bool hasControls(QByteArrayView line);
    static bool hasControls(QStringView line);

    static QByteArray strip(QByteArrayView line);
    // The same for text already decoded; returns `line` itself when it holds
    // nothing to drop.
    static QString stripText(const QString& line);
};

} // namespace Wardlamp
