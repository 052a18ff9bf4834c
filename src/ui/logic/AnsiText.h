#pragma once

#include <QByteArrayView>
#include <QList>
#include <QRgb>
#include <QString>

namespace Wardlamp {

// A colour as a terminal program asks for it: the terminal's own, one of the
// 256 indexed colours (0–15 the named ones), or a 24-bit colour.
struct TerminalColour {
    enum class Kind : quint8 { standard, indexed, rgb };
    Kind kind = Kind::standard;
    quint8 index = 0; // for `indexed`
    QRgb rgb = 0; // for `rgb`, alpha ignored

    static TerminalColour indexed(int index) { return { Kind::indexed, quint8(index), 0 }; }
    static TerminalColour fromRgb(int r, int g, int b) { return { Kind::rgb, 0, qRgb(r, g, b) }; }

    friend bool operator==(const TerminalColour&, const TerminalColour&) = default;
};

// The character attributes that SGR sequences set.
struct TextStyle {
    TerminalColour foreground;
    TerminalColour background;
    bool bold = false;
    bool dim = false;
    bool italic = false;
    bool underline = false;
    bool inverse = false;
    bool strikeOut = false;

    bool isPlain() const { return *this == TextStyle(); }
    friend bool operator==(const TextStyle&, const TextStyle&) = default;
};

// A stretch of a line's shown text in one style other than the plain one;
// `start` and `length` count UTF-16 code units of StyledLine::text.
struct StyledRun {
    qsizetype start = 0;
    qsizetype length = 0;
    TextStyle style;

    friend bool operator==(const StyledRun&, const StyledRun&) = default;
};

// One line of output as it is shown: the text without any control sequence
// (what Copy gives and search looks in), and its styled stretches in order,
// never overlapping, never empty.
struct StyledLine {
    QString text;
    QList<StyledRun> runs;

    friend bool operator==(const StyledLine&, const StyledLine&) = default;
};

// Reads a line of a server's output (UTF-8) the way a terminal shows it: SGR
// colours and attributes (16, 256 and 24-bit colours in their ";" and ":"
// forms; bold, dim, italic, underline, inverse, strike-out, and their resets)
// become styled stretches; every other control sequence and control character
// but the tab is dropped (ControlSequenceScanner decides what is what). Each
// line starts in the plain style. Parameters out of range, unknown codes and
// unfinished colour parameters are ignored, never guessed. Pure.
class AnsiText {
public:
    static StyledLine parse(QByteArrayView utf8);
    // parse().text, without building the runs.
    static QString plainText(QByteArrayView utf8);
    // The style after one SGR sequence's parameters (the bytes between
    // "ESC [" and "m") are applied to `style`.
    static TextStyle applySgr(TextStyle style, QByteArrayView parameters);
};

} // namespace Wardlamp
