#pragma once

#include "supervision/ServerConfig.h"
#include "supervision/ServerStatus.h"
#include "ui/models/LogModel.h"

#include <QObject>
#include <QUuid>

#include <memory>
#include <optional>

namespace Wardlamp {

class LogFilterModel;
class LogSearch;
class PanelCommands;
class ServerManager;
class ServerStore;

// What the log window shows and does, without the widgets: which server is
// selected, whether new output is followed, which run is shown and whether
// only error lines are; the lines themselves (LogModel, LogFilterModel) and
// their search; and the header's commands.
//
// Selection: nothing at first; selectFirstIfNone() (when the window first
// shows) takes the first server. A selected server that is removed stays
// selected, and the window says "No server selected" (selectedServer() is
// none) without moving to another one.
//
// Following: followRequested() asks the view to scroll to the end each time
// the shown lines change (new lines, lines the cap drops, a clear), only
// while auto-scroll is on and never because another server or run was
// chosen (first display).
//
// Main thread; the store, the manager and the commands outlive it.
class LogWindowModel : public QObject {
    Q_OBJECT

public:
    LogWindowModel(ServerStore& store, ServerManager& manager, PanelCommands& commands, QObject* parent = nullptr);
    ~LogWindowModel() override;

    // --- selection
    QUuid selectedId() const { return m_selected; }
    void select(const QUuid& id);
    void selectFirstIfNone();
    // The selected server while it is configured; none shows "No server selected".
    std::optional<ServerConfig> selectedServer() const;
    // The name, or the command when the name is empty.
    QString title() const;
    ServerStatus status() const;

    // --- what is shown
    bool autoScroll() const { return m_autoScroll; }
    void setAutoScroll(bool on);
    LogModel::Run run() const { return m_log->run(); }
    void setRun(LogModel::Run run);
    // The selected server has a previous run to show.
    bool hasPreviousRun() const;
    // When and how the previous run ended ("Ended 14:02:11 · exited with code 1").
    QString previousRunText() const;
    bool errorsOnly() const;
    void setErrorsOnly(bool on);
    // "No output yet." for an empty log; "No error lines." when the filter hides every line.
    QString emptyText() const;

    LogModel& log() { return *m_log; }
    LogFilterModel& shown() { return *m_shown; }
    LogSearch& search() { return *m_search; }

    // --- commands of the header
    // Start or stop, by the server's state at the moment of the call.
    void toggleServer();
    // Clears the current run's log (the previous run is kept as it is).
    void clearLog();
    // The shown lines as "HH:mm:ss  text", joined by line feeds; empty for none.
    QString copyText() const;

Q_SIGNALS:
    // Another server was selected, or the selected one was added or removed.
    void selectionChanged();
    // The selected server's name, command or state changed.
    void serverChanged();
    void autoScrollChanged(bool on);
    // Which run is shown, or whether there is a previous run, changed.
    void runChanged();
    void errorsOnlyChanged(bool on);
    void followRequested();

private:
    void showSelected(LogModel::Run run);
    void handleLinesChanged();

    ServerStore& m_store;
    ServerManager& m_manager;
    PanelCommands& m_commands;
    std::unique_ptr<LogModel> m_log;
    std::unique_ptr<LogFilterModel> m_shown;
    std::unique_ptr<LogSearch> m_search;
    QUuid m_selected;
    bool m_autoScroll = true;
};

} // namespace Wardlamp
