#include "TrayIcon.h"

#include "ui/models/ServerSummary.h"
#include "ui/widgets/TrayMenu.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QPainter>
#include <QSvgRenderer>
#include <QSystemTrayIcon>

namespace Wardlamp {

using namespace Qt::StringLiterals;

TrayIcon::TrayIcon(ServerSummary& summary, ServerListModel& servers, PanelCommands& commands, QObject* parent)
    : QObject(parent)
    , m_summary(summary)
    , m_menu(new TrayMenu(servers, commands))
    , m_icon(new QSystemTrayIcon(this))
{
    m_icon->setObjectName(u"trayIcon"_s);
    qApp->installEventFilter(this);
    m_icon->setToolTip(u"Wardlamp"_s);
    m_icon->setContextMenu(m_menu);
    m_kind = m_summary.iconKind();
    m_icon->setIcon(icon(m_kind));
    connect(&m_summary, &ServerSummary::changed, this, &TrayIcon::updateIcon);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // Two clicks in a row arrive as a double click: each is a click.
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick
            || reason == QSystemTrayIcon::MiddleClick)
            Q_EMIT panelRequested(m_icon->geometry());
    });
}

TrayIcon::~TrayIcon()
{
    // The icon first, then its menu (a tray menu has no parent widget).
    delete m_icon;
    delete m_menu;
}

void TrayIcon::show()
{
    m_icon->show();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QSystemTrayIconSys"))
            nameIconWindow(widget);
    }
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    // Qt makes the icon's window anew whenever a tray host appears, which
    // may be long after show() (a panel that starts after the app, or
    // restarts).
    if (event->type() == QEvent::Show && watched->inherits("QSystemTrayIconSys"))
        nameIconWindow(static_cast<QWidget*>(watched));
    return QObject::eventFilter(watched, event);
}

void TrayIcon::nameIconWindow(QWidget* window)
{
    // An XEmbed tray shows the icon as a small window of ours: give it the
    // name a screen reader says (a StatusNotifierItem carries the
    // application's display name, "Wardlamp", as its title).
    window->setAccessibleName(u"Wardlamp"_s);
    window->setAccessibleDescription(u"Click for the Wardlamp panel, right-click for its menu"_s);
}

void TrayIcon::hide()
{
    m_icon->hide();
}

bool TrayIcon::isVisible() const
{
    return m_icon->isVisible();
}

QIcon TrayIcon::icon(TrayIconKind kind)
{
    const QString name = TrayIconChoice::themeName(kind);
    if (QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    // Ours, drawn at the sizes trays ask for (and twice those for high
    // density screens), so neither the SVG icon plugin nor scaling is needed.
    QIcon icon;
    QSvgRenderer renderer(TrayIconChoice::resourcePath(kind));
    for (const int size : { 16, 20, 22, 24, 32, 44, 48, 64 }) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

void TrayIcon::updateIcon()
{
    const TrayIconKind kind = m_summary.iconKind();
    if (kind == m_kind)
        return;
    m_kind = kind;
    m_icon->setIcon(icon(kind));
}

} // namespace Wardlamp
