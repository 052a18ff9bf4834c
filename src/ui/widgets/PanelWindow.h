#pragma once

#include <QElapsedTimer>
#include <QWidget>

namespace Wardlamp {

class MenuContentView;

// The window the panel's content lives in. As a drop-down (the tray's click)
// it is a frameless popup placed at its anchor, closed by Escape, by a click
// elsewhere or when it loses focus. Where there is no tray at all it is a
// small ordinary window titled "Wardlamp" instead, which stays until closed.
class PanelWindow : public QWidget {
    Q_OBJECT

public:
    enum class Mode { dropDown, window };

    PanelWindow(MenuContentView* content, Mode mode, QWidget* parent = nullptr);

    Mode mode() const { return m_mode; }
    MenuContentView* content() const { return m_content; }

    // Opens the drop-down at the anchor (the tray icon's geometry, or a point
    // at the pointer), or shows and raises the window.
    void open(const QRect& anchor);
    // Whether a tray click now should be ignored: a press closed the popup a
    // moment ago, and this click is that press arriving at the icon.
    bool closedJustNow() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    MenuContentView* m_content;
    const Mode m_mode;
    QElapsedTimer m_closed;
    bool m_closedByClick = false;
};

} // namespace Wardlamp
