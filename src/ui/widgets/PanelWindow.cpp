#include "PanelWindow.h"

#include "ui/logic/PanelPlacement.h"
#include "ui/widgets/MenuContentView.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr int border = 1;

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(u"wayland"_s);
}

} // namespace

PanelWindow::PanelWindow(MenuContentView* content, Mode mode, QWidget* parent)
    : QWidget(parent)
    , m_content(content)
    , m_mode(mode)
{
    setObjectName(u"panel"_s);
    if (mode == Mode::dropDown) {
        // A popup grabs pointer and keyboard, so a click elsewhere or Escape
        // closes it, also where no window manager hands out focus. Wayland
        // gives popups only to windows with a parent: a frameless tool window
        // that closes when it loses activation does the same there.
        setWindowFlags(onWayland() ? Qt::Tool | Qt::FramelessWindowHint : Qt::Popup | Qt::FramelessWindowHint);
        setAttribute(Qt::WA_DeleteOnClose, false);
    } else {
        setWindowFlags(Qt::Window);
        setWindowTitle(u"Wardlamp"_s);
    }
    setAccessibleName(u"Wardlamp"_s);
    setAccessibleDescription(u"The Wardlamp panel"_s);
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    const int margin = mode == Mode::dropDown ? border : 0;
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    content->setParent(this);
    layout->addWidget(content);
    setFocusProxy(content);

    if (mode == Mode::dropDown)
        connect(content, &MenuContentView::commandChosen, this, &QWidget::close);
}

void PanelWindow::open(const QRect& anchor)
{
    if (m_mode == Mode::window) {
        showNormal();
        raise();
        activateWindow();
        if (QWindow* handle = windowHandle())
            handle->requestActivate();
        return;
    }
    adjustSize();
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        move(PanelPlacement::topLeft(anchor, screen->availableGeometry(), size()));
    show();
    raise();
    activateWindow();
    if (QWindow* handle = windowHandle())
        handle->requestActivate();
    m_content->setFocus(Qt::PopupFocusReason);
}

bool PanelWindow::closedJustNow() const
{
    return m_closedByClick && m_closed.isValid() && m_closed.elapsed() < 300;
}

void PanelWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && m_mode == Mode::dropDown) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool PanelWindow::event(QEvent* event)
{
    // A popup closes by itself when a click goes elsewhere; the tool window
    // used on Wayland closes when the compositor takes activation away.
    if (event->type() == QEvent::WindowDeactivate && m_mode == Mode::dropDown && !(windowFlags() & Qt::Popup)
        && isVisible())
        close();
    return QWidget::event(event);
}

void PanelWindow::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (m_mode != Mode::dropDown)
        return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PanelWindow::hideEvent(QHideEvent* event)
{
    // A popup that a press closed: if that press was on the tray icon, its
    // activation follows and must not open the panel again.
    m_closedByClick = QGuiApplication::mouseButtons() != Qt::NoButton;
    m_closed.start();
    QWidget::hideEvent(event);
}

} // namespace Wardlamp
