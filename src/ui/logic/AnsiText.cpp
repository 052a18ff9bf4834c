#include "AnsiText.h"

#include "common/ControlSequenceScanner.h"

#include <QVarLengthArray>

#include <optional>
#include <string_view>

namespace Wardlamp {

namespace {

using Piece = ControlSequenceScanner::Piece;

constexpr int missing = -1; // an empty parameter
constexpr int invalid = -2; // a parameter too large to mean anything

// One SGR parameter with its ":" sub-parameters ("38:2::1:2:3" is one group).
using Group = QVarLengthArray<int, 6>;

std::string_view bytesOf(QByteArrayView text)
{
    return std::string_view(text.data(), std::size_t(text.size()));
}

QList<Group> groupsOf(QByteArrayView parameters)
{
    QList<Group> groups;
    Group group;
    int value = missing;
    auto finishValue = [&] {
        group.append(value);
        value = missing;
    };
    for (const char c : parameters) {
        if (c >= '0' && c <= '9') {
            if (value == invalid)
                continue;
            value = (value == missing ? 0 : value) * 10 + (c - '0');
            if (value > 65535)
                value = invalid;
        } else if (c == ':') {
            finishValue();
        } else { // ';'
            finishValue();
            groups.append(group);
            group.clear();
        }
    }
    finishValue();
    groups.append(group);
    return groups;
}

bool isByte(int value)
{
    return value >= 0 && value <= 255;
}

// An extended colour (after 38, 48 or 58) from its selector and values, or
// nothing when they do not make one.
std::optional<TerminalColour> extendedColour(int selector, const QVarLengthArray<int, 5>& values)
{
    if (selector == 5 && values.size() >= 1 && isByte(values[0]))
        return TerminalColour::indexed(values[0]);
    if (selector == 2 && values.size() >= 3 && isByte(values[0]) && isByte(values[1]) && isByte(values[2]))
        return TerminalColour::fromRgb(values[0], values[1], values[2]);
    return std::nullopt;
}

void setColour(TextStyle& style, int code, const std::optional<TerminalColour>& colour)
{
    if (!colour)
        return;
    if (code == 38)
        style.foreground = *colour;
    else if (code == 48)
        style.background = *colour;
    // 58 (underline colour) is read so its values are not taken for codes, and not shown.
}

void applyCode(TextStyle& style, int code)
{
    switch (code) {
    case missing:
    case 0:
        style = TextStyle();
        return;
    case 1:
        style.bold = true;
        return;
    case 2:
        style.dim = true;
        return;
    case 3:
        style.italic = true;
        return;
    case 4:
    case 21: // double underline
        style.underline = true;
        return;
    case 7:
        style.inverse = true;
        return;
    case 9:
        style.strikeOut = true;
        return;
    case 22:
        style.bold = false;
        style.dim = false;
        return;
    case 23:
        style.italic = false;
        return;
    case 24:
        style.underline = false;
        return;
    case 27:
        style.inverse = false;
        return;
    case 29:
        style.strikeOut = false;
        return;
    case 39:
        style.foreground = TerminalColour();
        return;
    case 49:
        style.background = TerminalColour();
        return;
    default:
        break;
    }
    if (code >= 30 && code <= 37)
        style.foreground = TerminalColour::indexed(code - 30);
    else if (code >= 40 && code <= 47)
        style.background = TerminalColour::indexed(code - 40);
    else if (code >= 90 && code <= 97)
        style.foreground = TerminalColour::indexed(code - 90 + 8);
    else if (code >= 100 && code <= 107)
        style.background = TerminalColour::indexed(code - 100 + 8);
    // Anything else (blink, conceal, fonts, frames, invalid numbers): ignored.
}

} // namespace

TextStyle AnsiText::applySgr(TextStyle style, QByteArrayView parameters)
{
    const QList<Group> groups = groupsOf(parameters);
    for (qsizetype k = 0; k < groups.size(); ++k) {
        const Group& group = groups.at(k);
        const int code = group.at(0);
        const bool extended = code == 38 || code == 48 || code == 58;
        if (group.size() > 1) {
            // The ":" form keeps a colour's values inside its own group:
            // 38:5:N, 38:2:R:G:B and 38:2:SPACE:R:G:B.
            if (extended) {
                QVarLengthArray<int, 5> values(group.begin() + 2, group.end());
                if (group.at(1) == 2 && values.size() >= 4)
                    values.remove(0); // the colour space
                setColour(style, code, extendedColour(group.at(1), values));
            } else if (code == 4) {
                style.underline = group.at(1) != 0;
            }
            continue;
        }
        if (extended) {
            // The ";" form takes its values from the groups that follow, which
            // it uses up whether or not they make a colour.
            const int selector = k + 1 < groups.size() ? groups.at(k + 1).at(0) : missing;
            const qsizetype wanted = selector == 5 ? 1 : selector == 2 ? 3 : 0;
            QVarLengthArray<int, 5> values;
            for (qsizetype j = k + 2; j < groups.size() && values.size() < wanted; ++j)
                values.append(groups.at(j).at(0));
            k += 1 + values.size();
            setColour(style, code, extendedColour(selector, values));
            continue;
        }
        applyCode(style, code);
    }
    return style;
}

StyledLine AnsiText::parse(QByteArrayView utf8)
{
    const std::string_view bytes = bytesOf(utf8);
    StyledLine line;
    if (ControlSequenceScanner::isPlain(bytes)) {
        line.text = QString::fromUtf8(utf8);
        return line;
    }
    line.text.reserve(utf8.size());
    TextStyle style;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const Piece piece = ControlSequenceScanner::next(bytes, i);
        if (piece.kind == Piece::Kind::text) {
            const qsizetype start = line.text.size();
            line.text += QString::fromUtf8(utf8.sliced(qsizetype(piece.begin), qsizetype(piece.end - piece.begin)));
            const qsizetype length = line.text.size() - start;
            if (!style.isPlain() && length > 0) {
                if (!line.runs.isEmpty() && line.runs.last().style == style
                    && line.runs.last().start + line.runs.last().length == start)
                    line.runs.last().length += length;
                else
                    line.runs.append(StyledRun { start, length, style });
            }
        } else if (piece.kind == Piece::Kind::colour) {
            style = applySgr(
                style, utf8.sliced(qsizetype(piece.paramsBegin), qsizetype(piece.paramsEnd - piece.paramsBegin)));
        }
        i = piece.end;
    }
    return line;
}

QString AnsiText::plainText(QByteArrayView utf8)
{
    const std::string_view bytes = bytesOf(utf8);
    if (ControlSequenceScanner::isPlain(bytes))
        return QString::fromUtf8(utf8);
    QByteArray text;
    text.reserve(utf8.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const Piece piece = ControlSequenceScanner::next(bytes, i);
        if (piece.kind == Piece::Kind::text)
            text += utf8.sliced(qsizetype(piece.begin), qsizetype(piece.end - piece.begin));
        i = piece.end;
    }
    return QString::fromUtf8(text);
}

} // namespace Wardlamp
