#pragma once

#include <QList>
#include <QString>

namespace Wardlamp {

// Where a search text occurs in a line: every occurrence, ignoring case, left
// to right and never overlapping. Pure.
class TextMatches {
public:
    struct Range {
        int start = 0;
        int length = 0;
        friend bool operator==(const Range&, const Range&) = default;
    };

    static QList<Range> find(QStringView text, QStringView query);
};

} // namespace Wardlamp
