#pragma once

#include "ui/logic/AnsiText.h"
#include "ui/logic/LogTextSelection.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QPointer>
#include <QTextLayout>

#include <list>
#include <memory>
#include <vector>

class QTimer;

namespace Wardlamp {

class LogFilterModel;
class LogSearch;

// The lines of one server's log, painted row by row: the time in the
// secondary colour, then the text in the log font (its terminal colours
// shown, error lines red), wrapped to the width. Built for volume: it keeps a
// height per row (exact for the rows it has shown, estimated from the text's
// length for the others) and lays out and paints only the rows in view, so
// a batch of new lines costs the new rows' heights and one repaint, and a
// 64 KiB line is one tall row that paints only its visible part.
//
// The text of the lines can be selected with the mouse (not their times) and
// copied (Ctrl+C); search matches are highlighted, the current one more.
// While lines leave at the front the rows in view stay where they are.
//
// It decides nothing: whether to follow new lines is the caller's
// (scrollToBottom), as is the text shown when there are no lines.
class LogView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit LogView(QWidget* parent = nullptr);
    ~LogView() override;

    // The lines to show (may be null), and the search whose matches to highlight.
    void setModel(LogFilterModel* model);
    void setSearch(LogSearch* search);
    // Shown in the secondary colour when there are no lines.
    void setEmptyText(const QString& text);
    QString emptyText() const { return m_emptyText; }

    // Aligns the end of the last line with the bottom edge, animated (ease
    // out, 0.1 s) or at once.
    void scrollToBottom(bool animated);
    // Brings the line into view (centred when it was out of view).
    void scrollToSeq(quint64 seq);
    bool isAtBottom() const;
    int contentHeight() const;
    int scrollOffset() const { return m_offset; }
    // The rows whose area meets the viewport, as rows of the model; -1, -1 when none.
    std::pair<int, int> visibleRows() const;
    // The top of a row in the content, for tests.
    int rowTop(int row) const;

    bool hasSelection() const { return !m_selection.isEmpty(); }
    // The selected text of the lines shown, joined by line feeds.
    QString selectedText() const;
    void selectAll();
    void clearSelection();
    // Copies the selection to the clipboard; false when there is none.
    bool copySelection();

    QFont lineFont() const { return m_font; }
    // Where a line's text begins, from the viewport's left edge.
    int textLeft() const;

Q_SIGNALS:
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Row {
        int height = 0;
        bool exact = false;
    };
    // What painting a line needs, kept for the rows recently in view.
    struct LineLayout {
        QString time;
        StyledLine line;
        bool isError = false;
        QTextLayout layout;
        int height = 0;
    };

    // Where the view is, by line: restored after rows change above it.
    struct Anchor {
        quint64 seq = 0;
        int delta = 0; // the viewport's top below the row's top
        bool valid = false;
    };

    void handleReset();
    void handleRowsInserted(int first, int last);
    void handleRowsRemoved(int first, int last);
    Anchor anchor() const;
    void restoreAnchor(const Anchor& anchor);
    void rebuildRows();
    Row estimateRow(int row) const;
    void updateMetrics();
    void invalidateLayouts();
    LineLayout& layoutOf(int row);
    void layOut(LineLayout& line) const;
    void makeVisibleRowsExact();
    void updateTops() const;
    void updateScrollBar();
    void setOffset(int offset);
    int maxOffset() const;
    void glideStep();
    int rowAt(int contentY) const;
    quint64 seqOf(int row) const;
    std::optional<LogTextPoint> pointAt(const QPoint& viewportPos);
    int textWidth() const;

    QPointer<LogFilterModel> m_model;
    QPointer<LogSearch> m_search;
    QString m_emptyText;
    QFont m_font;
    QFont m_timeFont;
    int m_lineHeight = 0;
    int m_advance = 0;
    int m_timeWidth = 0;
    int m_layoutWidth = -1;

    std::vector<Row> m_rows;
    mutable std::vector<int> m_tops; // top of each row, plus the content's end
    mutable bool m_topsValid = false;
    int m_offset = 0; // content y at the viewport's top (the scroll bar's value)
    Anchor m_pendingAnchor; // taken before rows change, restored after
    bool m_removalAboveView = false; // the rows being removed are all above the view

    // Layouts of the rows recently in view, by line number; least recently used first.
    QHash<quint64, std::list<std::pair<quint64, std::unique_ptr<LineLayout>>>::iterator> m_layoutIndex;
    std::list<std::pair<quint64, std::unique_ptr<LineLayout>>> m_layouts;

    LogTextSelection m_selection;
    bool m_selecting = false;
    QTimer* m_glide; // scrollToBottom(true) on its way
};

} // namespace Wardlamp
