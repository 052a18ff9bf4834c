#pragma once

#include "ui/logic/TextMatches.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>
#include <vector>

class QAbstractItemModel;

namespace Wardlamp {

// The search of the log window over the lines it shows (a model with
// LogModel's roles): every occurrence of the text, ignoring case, in the
// lines as shown; which one is current; "3 of 41".
//
// It follows the lines as they change: new lines at the end are searched on
// their own and add their matches, lines leaving at the front take theirs
// away, anything else searches again. The current match keeps its line and
// place while lines come and go; when its line leaves at the front, the oldest
// remaining match becomes current; when it is filtered out, the next one after
// it. A new search text makes the newest match current.
//
// Main thread; the model outlives it.
class LogSearch : public QObject {
    Q_OBJECT

public:
    struct Match {
        quint64 seq = 0;
        int start = 0;
        int length = 0;
        friend bool operator==(const Match&, const Match&) = default;
    };

    explicit LogSearch(QAbstractItemModel& lines, QObject* parent = nullptr);

    void setQuery(const QString& query);
    QString query() const { return m_query; }

    int count() const { return int(m_matches.size()); }
    // Index of the current match among all, or -1.
    int currentIndex() const { return m_current; }
    std::optional<Match> current() const;
    // "3 of 41", "No matches", or empty without a search text.
    QString countText() const;

    // The next (newer) or previous (older) match becomes current, wrapping around.
    void next();
    void previous();

    // The matches in one line, in order; `currentStart` is the start of the
    // current match when it lies in this line, else -1.
    QList<TextMatches::Range> matchesIn(quint64 seq, int* currentStart = nullptr) const;

Q_SIGNALS:
    // The matches, the count or the current match changed.
    void changed();
    // Navigation (or a new search text) chose a current match to show.
    void currentMoved();

private:
    void searchAll();
    void searchRows(int first, int last);
    void handleRowsInserted(int first, int last);
    void handleRowsAboutToBeRemoved(int first, int last);
    void handleRowsRemoved();
    void restoreCurrent(const std::optional<Match>& was);
    void moveBy(int step);

    QAbstractItemModel& m_lines;
    QString m_query;
    std::vector<Match> m_matches; // by seq, then start
    int m_current = -1;
    bool m_removedElsewhere = false;
};

} // namespace Wardlamp
