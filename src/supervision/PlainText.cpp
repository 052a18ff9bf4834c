#include "PlainText.h"

#include "common/ControlSequenceScanner.h"

#include <string_view>

namespace Wardlamp {

bool PlainText::hasControls(QByteArrayView line)
{
    return !ControlSequenceScanner::isPlain(std::string_view(line.data(), std::size_t(line.size())));
}

bool PlainText::hasControls(QStringView line)
{
    for (const QChar c : line) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t') || (u >= 0x7F && u <= 0x9F))
            return true;
    }
    return false;
}

QByteArray PlainText::strip(QByteArrayView line)
{
    const std::string_view text(line.data(), std::size_t(line.size()));
    QByteArray result;
    result.reserve(line.size());
    for (std::size_t i = 0; i < text.size();) {
        const ControlSequenceScanner::Piece piece = ControlSequenceScanner::next(text, i);
        if (piece.kind == ControlSequenceScanner::Piece::Kind::text)
            result.append(line.data() + piece.begin, qsizetype(piece.end - piece.begin));
        i = piece.end;
    }
    return result;
}

QString PlainText::stripText(const QString& line)
{
    if (!hasControls(QStringView(line)))
        return line;
    return QString::fromUtf8(strip(QByteArrayView(line.toUtf8())));
}

} // namespace Wardlamp
