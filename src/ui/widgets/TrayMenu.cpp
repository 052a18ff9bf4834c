#include "TrayMenu.h"

#include "ui/logic/MenuText.h"
#include "ui/logic/ServerRowPresentation.h"
#include "ui/models/PanelCommands.h"
#include "ui/models/ServerListModel.h"
#include "ui/widgets/Glyph.h"
#include "ui/widgets/StatusDot.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

TrayMenu::TrayMenu(ServerListModel& servers, PanelCommands& commands, QWidget* parent)
    : QMenu(parent)
    , m_servers(servers)
    , m_commands(commands)
{
    setObjectName(u"trayMenu"_s);
    setAccessibleName(u"Wardlamp"_s);
    m_empty = addAction(u"No servers yet"_s);
    m_empty->setEnabled(false);
    m_serversEnd = addSeparator();
    QAction* logs = addAction(u"View Logs…"_s, &m_commands, &PanelCommands::showLogs);
    logs->setObjectName(u"viewLogsAction"_s);
    QAction* settings = addAction(u"Settings…"_s, &m_commands, &PanelCommands::showSettings);
    settings->setObjectName(u"settingsAction"_s);
    addSeparator();
    QAction* quit = addAction(u"Quit Wardlamp"_s, &m_commands, &PanelCommands::quit);
    quit->setObjectName(u"quitAction"_s);

    connect(&m_servers, &QAbstractItemModel::rowsInserted, this, &TrayMenu::handleRowsInserted);
    connect(&m_servers, &QAbstractItemModel::rowsRemoved, this, &TrayMenu::handleRowsRemoved);
    connect(&m_servers, &QAbstractItemModel::rowsMoved, this, &TrayMenu::rebuild);
    connect(&m_servers, &QAbstractItemModel::modelReset, this, &TrayMenu::rebuild);
    connect(&m_servers, &QAbstractItemModel::layoutChanged, this, &TrayMenu::rebuild);
    connect(&m_servers, &QAbstractItemModel::dataChanged, this, &TrayMenu::handleDataChanged);
    rebuild();
}

QList<QMenu*> TrayMenu::serverMenus() const
{
    QList<QMenu*> menus;
    for (const Entry& entry : m_entries)
        menus.append(entry.menu);
    return menus;
}

QAction* TrayMenu::actionAfterRow(int row) const
{
    return row + 1 < m_entries.size() ? m_entries.at(row + 1).menu->menuAction() : m_empty;
}

TrayMenu::Entry TrayMenu::createEntry(int row)
{
    const QUuid id = m_servers.serverAt(row).id;
    Entry entry;
    entry.menu = new QMenu(this);
    entry.toggle = entry.menu->addAction(QString(), this, [this, id] { m_commands.toggle(id); });
    entry.link = entry.menu->addAction(QString(), this, [this, id] { m_commands.openTunnel(id); });
    return entry;
}

void TrayMenu::presentEntry(int row)
{
    const Entry& entry = m_entries.at(row);
    const ServerRowPresentation shown
        = ServerRowPresentation::describe(m_servers.serverAt(row), m_servers.statusAt(row));
    entry.menu->setTitle(MenuText::serverEntry(shown.title, shown.statusWord));
    entry.menu->setIcon(StatusDot::pixmap(shown.dotTone, palette(), devicePixelRatioF()));
    entry.menu->menuAction()->setObjectName(u"serverEntry"_s);
    entry.toggle->setText(shown.buttonText);
    entry.toggle->setIcon(Glyph::pixmap(shown.action == ServerAction::stop ? u"stop"_s : u"play"_s, 16,
        colorFor(shown.buttonTone, palette()), devicePixelRatioF()));
    entry.link->setVisible(shown.link.has_value());
    if (shown.link)
        entry.link->setText(MenuText::escapeMnemonics(MenuText::elideMiddle(shown.link->tooltip)));
}

void TrayMenu::rebuild()
{
    // Later, as on removal: a reorder may come while a server's menu is open.
    for (const Entry& entry : std::as_const(m_entries)) {
        removeAction(entry.menu->menuAction());
        entry.menu->deleteLater();
    }
    m_entries.clear();
    handleRowsInserted(QModelIndex(), 0, m_servers.rowCount() - 1);
}

void TrayMenu::handleRowsInserted(const QModelIndex&, int first, int last)
{
    for (int row = first; row <= last; ++row) {
        m_entries.insert(row, createEntry(row));
        insertMenu(actionAfterRow(row), m_entries.at(row).menu);
        presentEntry(row);
    }
    updateEmptyEntry();
}

void TrayMenu::handleRowsRemoved(const QModelIndex&, int first, int last)
{
    for (int row = last; row >= first; --row) {
        // Later: the menu may be open, with this entry under the pointer.
        QMenu* menu = m_entries.takeAt(row).menu;
        removeAction(menu->menuAction());
        menu->deleteLater();
    }
    updateEmptyEntry();
}

void TrayMenu::handleDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    for (int row = topLeft.row(); row <= bottomRight.row() && row < m_entries.size(); ++row)
        presentEntry(row);
}

void TrayMenu::updateEmptyEntry()
{
    m_empty->setVisible(m_entries.isEmpty());
}

} // namespace Wardlamp
