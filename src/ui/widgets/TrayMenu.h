#pragma once

#include <QList>
#include <QMenu>

namespace Wardlamp {

class PanelCommands;
class ServerListModel;

// The tray icon's menu, for the hosts that only ever show a menu (and for
// Wayland, where only the menu opens at the icon): one entry per server,
// "NAME — state" with its status dot, whose submenu holds Start or Stop and
// the tunnel link; then "View Logs…", "Settings…" and "Quit Wardlamp". It runs
// the same PanelCommands as the panel. Entries are updated in place from the
// model, so an open menu never loses the entry under the pointer.
class TrayMenu : public QMenu {
    Q_OBJECT

public:
    TrayMenu(ServerListModel& servers, PanelCommands& commands, QWidget* parent = nullptr);

    // The submenu of each server, in model order (tests).
    QList<QMenu*> serverMenus() const;

private:
    struct Entry {
        QMenu* menu = nullptr;
        QAction* toggle = nullptr;
        QAction* link = nullptr;
    };

    Entry createEntry(int row);
    void presentEntry(int row);
    void rebuild();
    void handleRowsInserted(const QModelIndex& parent, int first, int last);
    void handleRowsRemoved(const QModelIndex& parent, int first, int last);
    void handleDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void updateEmptyEntry();
    QAction* actionAfterRow(int row) const;

    ServerListModel& m_servers;
    PanelCommands& m_commands;
    QList<Entry> m_entries;
    QAction* m_empty;
    QAction* m_serversEnd; // the separator after the servers
};

} // namespace Wardlamp
