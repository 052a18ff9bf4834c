#pragma once

#include <QList>
#include <QString>

namespace Wardlamp {

// How the log window writes a line's time and copies lines as text. Pure.
class LogText {
public:
    // A line to copy: its time and its text as shown (without control sequences).
    struct Line {
        qint64 msecs = 0;
        QString text;
    };

    // "HH:mm:ss", 24-hour clock, local time.
    static QString time(qint64 msecsSinceEpoch);
    // Each line as its time, two spaces and its text, joined by line feeds,
    // with no line feed after the last; the empty text for no lines.
    static QString copyText(const QList<Line>& lines);
};

} // namespace Wardlamp
