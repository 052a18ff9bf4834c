#include "TextMatches.h"

namespace Wardlamp {

QList<TextMatches::Range> TextMatches::find(QStringView text, QStringView query)
{
    QList<Range> ranges;
    if (query.isEmpty())
        return ranges;
    qsizetype from = 0;
    while (true) {
        const qsizetype at = text.indexOf(query, from, Qt::CaseInsensitive);
        if (at < 0)
            break;
        ranges.append(Range { int(at), int(query.size()) });
        from = at + query.size();
    }
    return ranges;
}

} // namespace Wardlamp
