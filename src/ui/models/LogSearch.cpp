#include "LogSearch.h"

#include "LogModel.h"

#include <QAbstractItemModel>

#include <algorithm>
#include <limits>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

bool before(const LogSearch::Match& a, const LogSearch::Match& b)
{
    return a.seq < b.seq || (a.seq == b.seq && a.start < b.start);
}

} // namespace

LogSearch::LogSearch(QAbstractItemModel& lines, QObject* parent)
    : QObject(parent)
    , m_lines(lines)
{
    connect(&m_lines, &QAbstractItemModel::rowsInserted, this,
        [this](const QModelIndex&, int first, int last) { handleRowsInserted(first, last); });
    connect(&m_lines, &QAbstractItemModel::rowsAboutToBeRemoved, this,
        [this](const QModelIndex&, int first, int last) { handleRowsAboutToBeRemoved(first, last); });
    connect(&m_lines, &QAbstractItemModel::rowsRemoved, this, [this] { handleRowsRemoved(); });
    connect(&m_lines, &QAbstractItemModel::modelReset, this, [this] {
        const std::optional<Match> was = current();
        searchAll();
        restoreCurrent(was);
        Q_EMIT changed();
    });
    connect(&m_lines, &QAbstractItemModel::layoutChanged, this, [this] {
        const std::optional<Match> was = current();
        searchAll();
        restoreCurrent(was);
        Q_EMIT changed();
    });
}

void LogSearch::setQuery(const QString& query)
{
    if (query == m_query)
        return;
    m_query = query;
    searchAll();
    m_current = m_matches.empty() ? -1 : int(m_matches.size()) - 1;
    Q_EMIT changed();
    if (m_current >= 0)
        Q_EMIT currentMoved();
}

std::optional<LogSearch::Match> LogSearch::current() const
{
    if (m_current < 0 || m_current >= count())
        return std::nullopt;
    return m_matches.at(std::size_t(m_current));
}

QString LogSearch::countText() const
{
    if (m_query.isEmpty())
        return QString();
    if (m_matches.empty())
        return u"No matches"_s;
    return u"%1 of %2"_s.arg(m_current + 1).arg(count());
}

void LogSearch::next()
{
    moveBy(1);
}

void LogSearch::previous()
{
    moveBy(-1);
}

void LogSearch::moveBy(int step)
{
    if (m_matches.empty())
        return;
    if (m_current < 0)
        m_current = step > 0 ? 0 : count() - 1;
    else
        m_current = (m_current + step + count()) % count();
    Q_EMIT changed();
    Q_EMIT currentMoved();
}

QList<TextMatches::Range> LogSearch::matchesIn(quint64 seq, int* currentStart) const
{
    QList<TextMatches::Range> ranges;
    if (currentStart)
        *currentStart = -1;
    auto first = std::lower_bound(m_matches.begin(), m_matches.end(), Match { seq, -1, 0 }, before);
    for (auto it = first; it != m_matches.end() && it->seq == seq; ++it) {
        ranges.append(TextMatches::Range { it->start, it->length });
        if (currentStart && int(it - m_matches.begin()) == m_current)
            *currentStart = it->start;
    }
    return ranges;
}

void LogSearch::searchAll()
{
    m_matches.clear();
    if (!m_query.isEmpty() && m_lines.rowCount() > 0)
        searchRows(0, m_lines.rowCount() - 1);
}

void LogSearch::searchRows(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = m_lines.index(row, 0);
        const quint64 seq = m_lines.data(index, LogModel::SeqRole).toULongLong();
        const QString text = m_lines.data(index, LogModel::TextRole).toString();
        for (const TextMatches::Range& range : TextMatches::find(text, m_query))
            m_matches.push_back(Match { seq, range.start, range.length });
    }
}

void LogSearch::handleRowsInserted(int first, int last)
{
    if (m_query.isEmpty())
        return;
    const std::optional<Match> was = current();
    const std::size_t countBefore = m_matches.size();
    if (last == m_lines.rowCount() - 1) {
        // New lines at the end: only they need a look (the current match keeps its index).
        searchRows(first, last);
    } else {
        searchAll();
        restoreCurrent(was);
    }
    if (m_matches.size() != countBefore || current() != was)
        Q_EMIT changed();
}

void LogSearch::handleRowsAboutToBeRemoved(int first, int last)
{
    if (m_query.isEmpty())
        return;
    if (first != 0) {
        m_removedElsewhere = true;
        return;
    }
    // Lines leaving at the front take their matches with them.
    const quint64 lastSeq = m_lines.data(m_lines.index(last, 0), LogModel::SeqRole).toULongLong();
    const auto end = std::upper_bound(
        m_matches.begin(), m_matches.end(), Match { lastSeq, std::numeric_limits<int>::max(), 0 }, before);
    const int gone = int(end - m_matches.begin());
    if (gone == 0)
        return;
    m_matches.erase(m_matches.begin(), end);
    if (m_current >= gone)
        m_current -= gone;
    else if (m_current >= 0)
        m_current = m_matches.empty() ? -1 : 0; // its line left: the oldest remaining match
    Q_EMIT changed();
}

void LogSearch::handleRowsRemoved()
{
    if (!m_removedElsewhere)
        return;
    m_removedElsewhere = false;
    const std::optional<Match> was = current();
    searchAll();
    restoreCurrent(was);
    Q_EMIT changed();
}

void LogSearch::restoreCurrent(const std::optional<Match>& was)
{
    if (!was || m_matches.empty()) {
        m_current = -1;
        return;
    }
    // The same match, else the next one after it, else the newest.
    const auto found = std::lower_bound(m_matches.begin(), m_matches.end(), *was, before);
    m_current = found != m_matches.end() ? int(found - m_matches.begin()) : count() - 1;
}

} // namespace Wardlamp
