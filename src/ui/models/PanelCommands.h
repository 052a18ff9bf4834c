#pragma once

#include <QObject>
#include <QUrl>
#include <QUuid>

namespace Wardlamp {

class ServerManager;
class ServerStore;

// What the panel and the tray menu do, in one place, so that both surfaces
// act through the same code: start or stop a server, open its tunnel, and ask
// the application for the log window, the settings window, or the end.
//
// Main thread; the store and manager must outlive it.
class PanelCommands : public QObject {
    Q_OBJECT

public:
    PanelCommands(ServerStore& store, ServerManager& manager, QObject* parent = nullptr);

    // Reads the server's state at the moment of the call: a running server is
    // stopped, a stopped or failed one started (which replaces a process that
    // is still alive). An id that is no longer configured does nothing.
    void toggle(const QUuid& id);
    // Opens the server's tunnel address in the default browser.
    void openTunnel(const QUuid& id);

    void showLogs() { Q_EMIT logsRequested(); }
    void showSettings() { Q_EMIT settingsRequested(); }
    void quit() { Q_EMIT quitRequested(); }

Q_SIGNALS:
    void logsRequested();
    void settingsRequested();
    void quitRequested();

private:
    ServerStore& m_store;
    ServerManager& m_manager;
};

} // namespace Wardlamp
