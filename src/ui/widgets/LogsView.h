#pragma once

#include <QWidget>

#include <memory>

class QButtonGroup;
class QLabel;
class QSplitter;
class QStackedWidget;
class QToolButton;

namespace Wardlamp {

class ElidedLabel;
class GlyphButton;
class LogSearchBar;
class LogView;
class LogWindowModel;
class PanelCommands;
class PlaceholderView;
class ServerListModel;
class ServerManager;
class ServerStore;
class SidebarList;
class ToggleSwitch;

// The content of the "Server Logs" window: the servers on the left (status
// dot, name, warning mark), and the selected server's log on the right under
// its header (name, the current or previous run, "Auto-scroll", search,
// Copy, Clear, Start/Stop), or "No server selected".
//
// Keyboard: arrow keys move in the sidebar; Ctrl+F searches; Ctrl+L clears
// the log (as the Clear button); Ctrl+C copies the selected text.
//
// It decides nothing: LogWindowModel holds the selection, the rules for
// following new lines, the run and the filter.
class LogsView : public QWidget {
    Q_OBJECT

public:
    LogsView(ServerListModel& servers, ServerStore& store, ServerManager& manager, PanelCommands& commands,
        QWidget* parent = nullptr);
    ~LogsView() override;

    LogWindowModel& model() { return *m_model; }
    LogView* logView() const { return m_log; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildSidebar();
    QWidget* buildLogPage();
    void syncSidebarSelection();
    void handleSidebarSelection();
    void updateDetail();
    void updateHeader();
    void updateEmptyText();
    void copyLog();
    void clearLog();

    ServerListModel& m_servers;
    std::unique_ptr<LogWindowModel> m_model;
    SidebarList* m_sidebar = nullptr;
    QStackedWidget* m_detail = nullptr;
    PlaceholderView* m_placeholder = nullptr;
    QWidget* m_logPage = nullptr;
    ElidedLabel* m_title = nullptr;
    QToolButton* m_currentRun = nullptr;
    QToolButton* m_previousRun = nullptr;
    QButtonGroup* m_runs = nullptr;
    QLabel* m_runInfo = nullptr;
    ToggleSwitch* m_autoScroll = nullptr;
    GlyphButton* m_search = nullptr;
    GlyphButton* m_copy = nullptr;
    GlyphButton* m_clear = nullptr;
    GlyphButton* m_startStop = nullptr;
    LogSearchBar* m_searchBar = nullptr;
    LogView* m_log = nullptr;
    bool m_shownOnce = false;
    bool m_syncing = false;
};

} // namespace Wardlamp
