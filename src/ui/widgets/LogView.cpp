#include "LogView.h"

#include "ui/logic/LogText.h"
#include "ui/logic/TerminalPalette.h"
#include "ui/logic/Tone.h"
#include "ui/models/LogFilterModel.h"
#include "ui/models/LogModel.h"
#include "ui/models/LogSearch.h"
#include "ui/widgets/WindowFonts.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTimer>

#include <algorithm>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr int sidePadding = 10; // left of the time, right of the text
constexpr int timeGap = 8; // between the time and the text
constexpr int rowSpacing = 1;
constexpr int verticalPadding = 6; // above the first row and below the last
constexpr std::size_t maxLayouts = 300;
// Scrolling to the end glides there: each frame covers this share of what is
// left, so about 95% of the way is done in 0.1 s (an ease-out), and lines
// that arrive meanwhile only move the goal.
constexpr int glideFrame = 16;
constexpr double glideShare = 0.4;

QColor matchColour(bool dark, bool current)
{
    if (current)
        return dark ? QColor(0xb4, 0x53, 0x09) : QColor(0xfb, 0x92, 0x3c);
    return dark ? QColor(0x71, 0x5c, 0x00) : QColor(0xfd, 0xe6, 0x8a);
}

} // namespace

LogView::LogView(QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_glide(new QTimer(this))
{
    setObjectName(u"logView"_s);
    setAccessibleName(u"Log"_s);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::NoFrame);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    m_glide->setInterval(glideFrame);
    m_glide->setTimerType(Qt::PreciseTimer);
    connect(m_glide, &QTimer::timeout, this, &LogView::glideStep);
    connect(verticalScrollBar(), &QScrollBar::sliderPressed, m_glide, &QTimer::stop);
    updateMetrics();
}

LogView::~LogView() = default;

void LogView::setModel(LogFilterModel* model)
{
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    if (m_model) {
        connect(m_model, &QAbstractItemModel::modelReset, this, &LogView::handleReset);
        connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex&, int first) {
            if (first < m_model->rowCount())
                m_pendingAnchor = anchor();
        });
        connect(m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { handleRowsInserted(first, last); });
        connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex&, int, int last) {
            m_pendingAnchor = anchor();
            m_removalAboveView = !m_rows.empty() && rowAt(m_offset) > last;
        });
        connect(m_model, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { handleRowsRemoved(first, last); });
        connect(m_model, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] { m_pendingAnchor = anchor(); });
        connect(m_model, &QAbstractItemModel::layoutChanged, this, [this] {
            rebuildRows();
            restoreAnchor(std::exchange(m_pendingAnchor, Anchor()));
        });
    }
    handleReset();
}

void LogView::setSearch(LogSearch* search)
{
    if (m_search)
        disconnect(m_search, nullptr, this, nullptr);
    m_search = search;
    if (m_search)
        connect(m_search, &LogSearch::changed, viewport(), qOverload<>(&QWidget::update));
    viewport()->update();
}

void LogView::setEmptyText(const QString& text)
{
    if (text == m_emptyText)
        return;
    m_emptyText = text;
    viewport()->update();
}

// --- rows and their heights --------------------------------------------------

void LogView::updateMetrics()
{
    m_font = WindowFonts::logLine();
    const QFontMetrics metrics(m_font);
    m_lineHeight = metrics.lineSpacing();
    m_advance = std::max(1, metrics.horizontalAdvance(u'0'));
    m_timeWidth = metrics.horizontalAdvance(u"00:00:00"_s);
}

int LogView::textLeft() const
{
    return sidePadding + m_timeWidth + timeGap;
}

int LogView::textWidth() const
{
    return std::max(m_advance * 8, viewport()->width() - textLeft() - sidePadding);
}

quint64 LogView::seqOf(int row) const
{
    return m_model->logModel().seqAt(m_model->sourceRow(row));
}

LogView::Row LogView::estimateRow(int row) const
{
    const LogModel& source = m_model->logModel();
    const QByteArrayView text = source.textAt(m_model->sourceRow(row));
    // UTF-8 bytes are at least as many as the columns of the text (a wide
    // character takes two columns and three or four bytes), but a tab takes
    // up to eight columns.
    const qsizetype tabs = text.count('\t');
    const qint64 width = qint64(text.size() + tabs * 7) * m_advance;
    if (width <= textWidth())
        return Row { m_lineHeight, true };
    const int lines = int(std::min<qint64>((width + textWidth() - 1) / textWidth(), 1 << 20));
    return Row { lines * m_lineHeight, false };
}

void LogView::rebuildRows()
{
    m_rows.clear();
    const int count = m_model ? m_model->rowCount() : 0;
    m_rows.reserve(std::size_t(count));
    for (int row = 0; row < count; ++row)
        m_rows.push_back(estimateRow(row));
    m_topsValid = false;
    updateScrollBar();
    viewport()->update();
}

void LogView::invalidateLayouts()
{
    m_layouts.clear();
    m_layoutIndex.clear();
}

void LogView::updateTops() const
{
    if (m_topsValid)
        return;
    m_tops.resize(m_rows.size() + 1);
    int top = verticalPadding;
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        m_tops[row] = top;
        top += m_rows[row].height + (row + 1 < m_rows.size() ? rowSpacing : 0);
    }
    m_tops[m_rows.size()] = top + verticalPadding;
    m_topsValid = true;
}

int LogView::rowTop(int row) const
{
    updateTops();
    return m_tops.at(std::size_t(row));
}

int LogView::contentHeight() const
{
    if (m_rows.empty())
        return 0;
    updateTops();
    return m_tops.back();
}

int LogView::maxOffset() const
{
    return std::max(0, contentHeight() - viewport()->height());
}

int LogView::rowAt(int contentY) const
{
    updateTops();
    if (m_rows.empty())
        return -1;
    const auto after = std::upper_bound(m_tops.begin(), m_tops.end() - 1, contentY);
    return std::clamp(int(after - m_tops.begin()) - 1, 0, int(m_rows.size()) - 1);
}

std::pair<int, int> LogView::visibleRows() const
{
    if (m_rows.empty())
        return { -1, -1 };
    const int first = rowAt(m_offset);
    const int last = rowAt(m_offset + viewport()->height() - 1);
    return { first, last };
}

void LogView::updateScrollBar()
{
    QScrollBar* bar = verticalScrollBar();
    bar->setSingleStep(m_lineHeight);
    bar->setPageStep(std::max(1, viewport()->height() - m_lineHeight));
    bar->setRange(0, maxOffset());
}

void LogView::setOffset(int offset)
{
    verticalScrollBar()->setValue(std::clamp(offset, 0, maxOffset()));
}

void LogView::scrollContentsBy(int, int)
{
    m_offset = verticalScrollBar()->value();
    viewport()->update();
}

LogView::Anchor LogView::anchor() const
{
    if (m_rows.empty() || !m_model)
        return {};
    const int row = rowAt(m_offset);
    return Anchor { seqOf(row), m_offset - rowTop(row), true };
}

void LogView::restoreAnchor(const Anchor& anchor)
{
    updateScrollBar();
    if (!anchor.valid || m_rows.empty()) {
        setOffset(m_offset);
        return;
    }
    // The row of the anchor's line, or the first one after it.
    int low = 0;
    int high = int(m_rows.size());
    while (low < high) {
        const int middle = (low + high) / 2;
        if (seqOf(middle) < anchor.seq)
            low = middle + 1;
        else
            high = middle;
    }
    if (low >= int(m_rows.size())) {
        setOffset(maxOffset());
        return;
    }
    const int delta = seqOf(low) == anchor.seq ? anchor.delta : 0;
    setOffset(rowTop(low) + delta);
}

void LogView::handleReset()
{
    m_glide->stop();
    invalidateLayouts();
    m_selection.clear();
    m_selecting = false;
    m_pendingAnchor = Anchor();
    rebuildRows();
    // A new log (another server, another run, a clear) starts at its top.
    verticalScrollBar()->setValue(0);
    m_offset = verticalScrollBar()->value();
    Q_EMIT selectionChanged();
}

void LogView::handleRowsInserted(int first, int last)
{
    std::vector<Row> added;
    added.reserve(std::size_t(last - first + 1));
    for (int row = first; row <= last; ++row)
        added.push_back(estimateRow(row));
    m_rows.insert(m_rows.begin() + first, added.begin(), added.end());
    m_topsValid = false;
    if (m_pendingAnchor.valid) {
        restoreAnchor(std::exchange(m_pendingAnchor, Anchor()));
    } else {
        updateScrollBar();
        // New lines at the end change nothing in view unless they are in view.
        const int bottom = m_offset + viewport()->height();
        if (rowTop(first) > bottom)
            return;
    }
    viewport()->update();
}

void LogView::handleRowsRemoved(int first, int last)
{
    const Anchor kept = std::exchange(m_pendingAnchor, Anchor());
    const bool aboveView = std::exchange(m_removalAboveView, false);
    m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
    m_topsValid = false;
    if (aboveView) {
        // Lines left above the view (the cap at work): what is in view stays
        // where it is on screen, so only the scroll bar changes.
        const QSignalBlocker blocker(verticalScrollBar());
        restoreAnchor(kept);
        m_offset = verticalScrollBar()->value();
        return;
    }
    restoreAnchor(kept);
    viewport()->update();
}

// --- layouts -----------------------------------------------------------------

void LogView::layOut(LineLayout& line) const
{
    line.layout.clearLayout();
    line.layout.beginLayout();
    qreal y = 0;
    const qreal width = textWidth();
    while (true) {
        QTextLine textLine = line.layout.createLine();
        if (!textLine.isValid())
            break;
        textLine.setLineWidth(width);
        textLine.setPosition(QPointF(0, y));
        y += std::max<qreal>(textLine.height(), m_lineHeight);
    }
    line.layout.endLayout();
    line.height = std::max(m_lineHeight, int(std::ceil(y)));
}

LogView::LineLayout& LogView::layoutOf(int row)
{
    const quint64 seq = seqOf(row);
    if (const auto found = m_layoutIndex.constFind(seq); found != m_layoutIndex.constEnd()) {
        m_layouts.splice(m_layouts.end(), m_layouts, *found);
        return *m_layouts.back().second;
    }
    const LogModel& source = m_model->logModel();
    const int sourceRow = m_model->sourceRow(row);
    auto line = std::make_unique<LineLayout>();
    line->time = LogText::time(source.msecsAt(sourceRow));
    line->line = AnsiText::parse(source.textAt(sourceRow));
    line->isError = source.isErrorAt(sourceRow);
    const QPalette& colours = palette();
    const QColor text = line->isError ? colorFor(Tone::error, colours) : colours.color(QPalette::Text);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(8 * m_advance);
    line->layout.setText(line->line.text);
    line->layout.setFont(m_font);
    line->layout.setTextOption(option);
    line->layout.setFormats(TerminalPalette::formats(
        line->line, text, colours.color(QPalette::Base), isDarkPalette(colours), line->isError));
    line->layout.setCacheEnabled(true);
    layOut(*line);

    Row& geometry = m_rows[std::size_t(row)];
    if (geometry.height != line->height || !geometry.exact) {
        geometry = Row { line->height, true };
        m_topsValid = false;
    }
    m_layouts.emplace_back(seq, std::move(line));
    m_layoutIndex.insert(seq, std::prev(m_layouts.end()));
    while (m_layouts.size() > maxLayouts) {
        m_layoutIndex.remove(m_layouts.front().first);
        m_layouts.pop_front();
    }
    return *m_layouts.back().second;
}

void LogView::makeVisibleRowsExact()
{
    if (m_rows.empty())
        return;
    const bool pinned = m_offset >= maxOffset() && m_offset > 0;
    const int first = rowAt(m_offset);
    const int anchorDelta = m_offset - rowTop(first);
    // Rows in view get their real heights; the first row in view stays put
    // (or the end, when the view showed the end).
    for (int row = first; row < int(m_rows.size()) && rowTop(row) < m_offset + viewport()->height(); ++row)
        layoutOf(row);
    updateScrollBar();
    const int wanted = pinned ? maxOffset() : rowTop(first) + anchorDelta;
    if (wanted != m_offset) {
        const QSignalBlocker blocker(verticalScrollBar());
        verticalScrollBar()->setValue(std::clamp(wanted, 0, maxOffset()));
        m_offset = verticalScrollBar()->value();
    }
}

// --- scrolling -----------------------------------------------------------------

void LogView::scrollToBottom(bool animated)
{
    updateScrollBar();
    if (!animated) {
        m_glide->stop();
        setOffset(maxOffset());
        return;
    }
    if (!m_glide->isActive() && m_offset < maxOffset())
        m_glide->start();
}

void LogView::glideStep()
{
    const int left = maxOffset() - m_offset;
    if (left <= 1) {
        m_glide->stop();
        setOffset(maxOffset());
        return;
    }
    setOffset(m_offset + std::max(1, int(std::ceil(left * glideShare))));
}

bool LogView::isAtBottom() const
{
    return m_offset >= maxOffset();
}

void LogView::scrollToSeq(quint64 seq)
{
    if (!m_model)
        return;
    const int sourceRow = m_model->logModel().rowOfSeq(seq);
    if (sourceRow < 0)
        return;
    const QModelIndex index = m_model->mapFromSource(m_model->logModel().index(sourceRow));
    if (!index.isValid())
        return;
    const int row = index.row();
    layoutOf(row);
    updateScrollBar();
    const int top = rowTop(row);
    const int height = m_rows[std::size_t(row)].height;
    if (top >= m_offset && top + height <= m_offset + viewport()->height())
        return;
    m_glide->stop();
    setOffset(top - std::max(0, (viewport()->height() - height) / 2));
}

// --- painting ----------------------------------------------------------------

void LogView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QPalette& colours = palette();
    painter.fillRect(event->rect(), colours.color(QPalette::Base));
    const QColor secondary = colorFor(Tone::secondary, colours);
    if (m_rows.empty()) {
        if (!m_emptyText.isEmpty()) {
            painter.setPen(secondary);
            painter.setFont(font());
            const int padding = 16;
            painter.drawText(
                QRect(padding, verticalPadding + padding / 2, viewport()->width() - 2 * padding, viewport()->height()),
                Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_emptyText);
        }
        return;
    }
    makeVisibleRowsExact();

    const bool dark = isDarkPalette(colours);
    const QColor text = colours.color(QPalette::Text);
    const QColor error = colorFor(Tone::error, colours);
    const int left = textLeft();
    const QRect area = event->rect();
    for (int row = rowAt(m_offset + area.top()); row < int(m_rows.size()); ++row) {
        const int top = rowTop(row) - m_offset;
        if (top > area.bottom())
            break;
        LineLayout& line = layoutOf(row);
        const quint64 seq = seqOf(row);

        painter.setFont(m_font);
        painter.setPen(secondary);
        painter.drawText(
            QRect(sidePadding, top, m_timeWidth + timeGap, m_lineHeight), Qt::AlignLeft | Qt::AlignTop, line.time);

        QList<QTextLayout::FormatRange> marks;
        if (m_search) {
            int currentStart = -1;
            for (const TextMatches::Range& match : m_search->matchesIn(seq, &currentStart)) {
                QTextLayout::FormatRange range { match.start, match.length, {} };
                range.format.setBackground(matchColour(dark, match.start == currentStart));
                marks.append(range);
            }
        }
        if (const auto selected = m_selection.rangeIn(seq, int(line.line.text.size()))) {
            QTextLayout::FormatRange range { selected->start, selected->length, {} };
            range.format.setBackground(colours.color(QPalette::Highlight));
            range.format.setForeground(colours.color(QPalette::HighlightedText));
            marks.append(range);
        }
        painter.setPen(line.isError ? error : text);
        // Only the lines of a tall row that meet the area are drawn.
        line.layout.draw(&painter, QPointF(left, top), marks, QRectF(area));
    }
}

void LogView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    const int width = textWidth();
    if (width != m_layoutWidth) {
        const Anchor kept = anchor();
        const bool pinned = !m_rows.empty() && isAtBottom() && m_offset > 0;
        m_layoutWidth = width;
        invalidateLayouts();
        rebuildRows();
        if (pinned)
            setOffset(maxOffset());
        else
            restoreAnchor(kept);
    } else {
        updateScrollBar();
    }
}

void LogView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange
        || event->type() == QEvent::StyleChange) {
        const Anchor kept = anchor();
        updateMetrics();
        invalidateLayouts();
        rebuildRows();
        restoreAnchor(kept);
    }
}

// --- selection -----------------------------------------------------------------

std::optional<LogTextPoint> LogView::pointAt(const QPoint& position)
{
    if (m_rows.empty() || !m_model)
        return std::nullopt;
    const int contentY = position.y() + m_offset;
    updateTops();
    if (contentY < m_tops.front())
        return LogTextPoint { seqOf(0), 0 };
    const int row = rowAt(contentY);
    LineLayout& line = layoutOf(row);
    const int length = int(line.line.text.size());
    const int y = contentY - rowTop(row);
    if (y >= line.height)
        return LogTextPoint { seqOf(row), length }; // in the spacing below the row
    const qreal x = position.x() - textLeft();
    for (int i = 0; i < line.layout.lineCount(); ++i) {
        const QTextLine textLine = line.layout.lineAt(i);
        if (y < textLine.y() + textLine.height() || i == line.layout.lineCount() - 1) {
            if (x < 0)
                return LogTextPoint { seqOf(row), textLine.textStart() };
            return LogTextPoint { seqOf(row), textLine.xToCursor(x) };
        }
    }
    return LogTextPoint { seqOf(row), 0 };
}

void LogView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_glide->stop();
    if (const auto point = pointAt(event->position().toPoint())) {
        if (event->modifiers() & Qt::ShiftModifier)
            m_selection.extend(*point);
        else
            m_selection.start(*point);
        m_selecting = true;
        viewport()->update();
        Q_EMIT selectionChanged();
    }
}

void LogView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting)
        return;
    if (const auto point = pointAt(event->position().toPoint())) {
        m_selection.extend(*point);
        viewport()->update();
        Q_EMIT selectionChanged();
    }
}

void LogView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_selecting = false;
    if (hasSelection() && QApplication::clipboard()->supportsSelection())
        QApplication::clipboard()->setText(selectedText(), QClipboard::Selection);
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const auto point = pointAt(event->position().toPoint());
    if (!point || event->button() != Qt::LeftButton)
        return;
    // The word under the pointer.
    const int row = m_model->mapFromSource(m_model->logModel().index(m_model->logModel().rowOfSeq(point->seq))).row();
    if (row < 0)
        return;
    const QString& text = layoutOf(row).line.text;
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
    words.setPosition(std::clamp(point->offset, 0, int(text.size())));
    const int start = words.isAtBoundary() && (words.boundaryReasons() & QTextBoundaryFinder::StartOfItem)
        ? int(words.position())
        : int(words.toPreviousBoundary());
    words.setPosition(std::max(0, start));
    const int end = int(words.toNextBoundary());
    if (start >= 0 && end > start) {
        m_selection.select(LogTextPoint { point->seq, start }, LogTextPoint { point->seq, end });
        m_selecting = false;
        viewport()->update();
        Q_EMIT selectionChanged();
    }
}

QString LogView::selectedText() const
{
    if (m_selection.isEmpty() || !m_model)
        return QString();
    const LogTextPoint begin = m_selection.begin();
    const LogTextPoint end = m_selection.end();
    const LogModel& source = m_model->logModel();
    QStringList parts;
    for (int row = 0; row < int(m_rows.size()); ++row) {
        const quint64 seq = seqOf(row);
        if (seq < begin.seq)
            continue;
        if (seq > end.seq)
            break;
        const QString text = AnsiText::plainText(source.textAt(m_model->sourceRow(row)));
        if (const auto range = m_selection.rangeIn(seq, int(text.size())))
            parts.append(text.mid(range->start, range->length));
        else if (seq != end.seq)
            parts.append(QString()); // an empty line inside the selection
    }
    return parts.join(u'\n');
}

void LogView::selectAll()
{
    if (m_rows.empty())
        return;
    const int last = int(m_rows.size()) - 1;
    const QString text = AnsiText::plainText(m_model->logModel().textAt(m_model->sourceRow(last)));
    m_selection.select(LogTextPoint { seqOf(0), 0 }, LogTextPoint { seqOf(last), int(text.size()) });
    viewport()->update();
    Q_EMIT selectionChanged();
}

void LogView::clearSelection()
{
    m_selection.clear();
    viewport()->update();
    Q_EMIT selectionChanged();
}

bool LogView::copySelection()
{
    if (!hasSelection())
        return false;
    QApplication::clipboard()->setText(selectedText());
    return true;
}

void LogView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Home:
        setOffset(0);
        return;
    case Qt::Key_End:
        setOffset(maxOffset());
        return;
    default:
        break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void LogView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copy = menu.addAction(u"Copy"_s, this, [this] { copySelection(); });
    copy->setEnabled(hasSelection());
    menu.addAction(u"Select All"_s, this, &LogView::selectAll);
    menu.exec(event->globalPos());
}

} // namespace Wardlamp
