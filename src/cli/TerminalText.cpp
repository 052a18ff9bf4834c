#include "TerminalText.h"

#include "common/ControlSequenceScanner.h"

namespace Wardlamp {

void TerminalText::append(QByteArray& out, QByteArrayView text, bool keepColour)
{
    const std::string_view bytes(text.data(), std::size_t(text.size()));
    bool colourKept = false;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const ControlSequenceScanner::Piece piece = ControlSequenceScanner::next(bytes, i);
        switch (piece.kind) {
        case ControlSequenceScanner::Piece::Kind::text:
            out += text.sliced(qsizetype(piece.begin), qsizetype(piece.end - piece.begin));
            break;
        case ControlSequenceScanner::Piece::Kind::colour:
            if (keepColour) {
                // Written in the 7-bit form every terminal knows.
                out += "\x1b[";
                out += text.sliced(qsizetype(piece.paramsBegin), qsizetype(piece.paramsEnd - piece.paramsBegin));
                out += 'm';
                colourKept = true;
            }
            break;
        case ControlSequenceScanner::Piece::Kind::control:
            break;
        }
        i = piece.end;
    }
    if (colourKept)
        out += "\x1b[0m";
}

QByteArray TerminalText::sanitize(QByteArrayView text, bool keepColour)
{
    QByteArray out;
    out.reserve(text.size());
    append(out, text, keepColour);
    return out;
}

bool TerminalText::isPlain(QByteArrayView text)
{
    return ControlSequenceScanner::isPlain(std::string_view(text.data(), std::size_t(text.size())));
}

} // namespace Wardlamp
