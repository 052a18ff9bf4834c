#pragma once

#include "ui/logic/TrayIconChoice.h"

#include <QObject>
#include <QRect>

class QSystemTrayIcon;
class QWidget;

namespace Wardlamp {

class PanelCommands;
class ServerListModel;
class ServerSummary;
class TrayMenu;

// The app's icon in the desktop's tray (StatusNotifierItem where a watcher
// runs, XEmbed otherwise): tooltip "Wardlamp", the idle, running or error icon
// from ServerSummary, the mirroring TrayMenu as its context menu. A click asks
// for the panel, with the icon's geometry when the tray reports one.
//
// The icons are looked up in the icon theme by name first, so a desktop theme
// may replace them, and fall back to our own built-in SVGs.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    TrayIcon(ServerSummary& summary, ServerListModel& servers, PanelCommands& commands, QObject* parent = nullptr);
    ~TrayIcon() override;

    void show();
    void hide();
    bool isVisible() const;
    TrayIconKind kind() const { return m_kind; }
    QSystemTrayIcon* systemTrayIcon() const { return m_icon; }
    TrayMenu* menu() const { return m_menu; }

    // The icon of a kind: the theme's if it has one by that name, else ours.
    static QIcon icon(TrayIconKind kind);

Q_SIGNALS:
    // The icon was clicked: open the panel at `anchor` (the icon's geometry,
    // empty when the tray does not report it).
    void panelRequested(const QRect& anchor);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void nameIconWindow(QWidget* window);
    void updateIcon();

    ServerSummary& m_summary;
    TrayMenu* m_menu;
    QSystemTrayIcon* m_icon;
    TrayIconKind m_kind = TrayIconKind::idle;
};

} // namespace Wardlamp
