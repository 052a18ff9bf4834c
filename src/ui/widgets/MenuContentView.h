#pragma once

#include "ui/logic/PanelLayout.h"

#include <QList>
#include <QWidget>

class QScrollArea;
class QVBoxLayout;

namespace Wardlamp {

class ElidedLabel;
class MenuButton;
class PanelCommands;
class ServerListModel;
class ServerRow;
class ServerSummary;

// The panel's content, 320 px wide: the "N running" header, the servers (one
// ServerRow each; up to six at their natural height, more in a 320 px scroll
// area, or the empty state), and the commands "View Logs…", "Settings…" and
// "Quit Wardlamp". It follows the list model row by row while it exists and
// forwards every click to PanelCommands. Up and Down move the keyboard focus.
class MenuContentView : public QWidget {
    Q_OBJECT

public:
    MenuContentView(
        ServerListModel& servers, ServerSummary& summary, PanelCommands& commands, QWidget* parent = nullptr);

    QList<ServerRow*> rows() const { return m_rows; }
    PanelLayout::ListForm listForm() const { return m_form; }
    QScrollArea* scrollArea() const { return m_scroll; }

Q_SIGNALS:
    // A window command or quit was chosen (a popup panel closes then).
    void commandChosen();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    ServerRow* createRow(int row);
    void presentRow(int row);
    void rebuildRows();
    void handleRowsInserted(const QModelIndex& parent, int first, int last);
    void handleRowsRemoved(const QModelIndex& parent, int first, int last);
    void handleDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void updateListForm();
    void updateTabOrder();
    void updateHeader();
    void handleFocusChanged(QWidget* old, QWidget* now);

    ServerListModel& m_servers;
    ServerSummary& m_summary;
    PanelCommands& m_commands;
    ElidedLabel* m_header;
    QWidget* m_emptyState;
    QScrollArea* m_scroll;
    QWidget* m_rowsHost;
    QVBoxLayout* m_rowsLayout;
    QList<ServerRow*> m_rows;
    QList<QWidget*> m_commandButtons;
    PanelLayout::ListForm m_form = PanelLayout::ListForm::empty;
};

} // namespace Wardlamp
