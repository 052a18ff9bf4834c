#pragma once

#include "app/AppOptions.h"
#include "ui/widgets/PanelWindow.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <chrono>
#include <memory>
#include <optional>

namespace Wardlamp {

class AppWindows;
class ControlServer;
class ControlVerbs;
class SupervisionVerbs;
class LoginItemManager;
class MenuContentView;
class PanelCommands;
class RemoteSetup;
class ServerListModel;
class ServerSummary;
class SignalWatcher;
class SupervisorGraph;
class TrayIcon;
struct AppModels;

// The desktop app: creates each model object once (the supervisor graph it
// shares with wardlampd, the remote half, launch at login), the views over
// them (tray icon with its menu, panel, windows), and runs the start-up step
// once: autostart servers, then the remote agent.
//
// Every end of the app goes the orderly way: "Quit Wardlamp", --quit from
// another launch, SIGTERM, SIGINT and SIGHUP stop every server (SIGTERM to its
// process tree, SIGKILL after the grace period) and the app exits once they
// are gone; a second request does not wait out the grace. Closing a window
// never ends it.
//
// One per process, on the main thread, after the QApplication.
class WardlampApp : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultQuitGrace { 3000 };
    // How long a login-started app waits for a tray before it shows its window.
    static constexpr std::chrono::seconds trayWait { 20 };

    explicit WardlampApp(const AppOptions& options, QObject* parent = nullptr);
    ~WardlampApp() override;

    // Shows the tray icon (or the panel as a window where there is no tray)
    // and runs the start-up step on the next turn of the event loop.
    void start();
    // Opens a surface: the panel (at the tray icon or the pointer, or as a
    // window without a tray), the log window or the settings window.
    void show(AppOptions::Surface surface);
    void quit();
    // How long a server may take to end after SIGTERM before it gets SIGKILL.
    void setQuitGrace(std::chrono::milliseconds grace) { m_quitGrace = grace; }
    // Handles SIGINT, SIGTERM and SIGHUP from the SignalWatcher.
    void handleSignal(int signalNumber);
    // Answers the configuration's control socket: the supervision verbs
    // (wardlampd ls …) and the app's own, "show" (surface: panel, logs,
    // settings) and "quit". One line saying why not on failure.
    std::optional<QString> serveControl(const QString& socketFile);

    bool isQuitting() const { return m_quitting; }
    bool didAutostart() const { return m_didAutostart; }

    SupervisorGraph& graph() { return *m_graph; }
    // The views, for tests; the panel windows exist once first opened.
    TrayIcon* trayIcon() const { return m_tray.get(); }
    PanelWindow* dropDownPanel() const { return m_dropDown; }
    PanelWindow* windowPanel() const { return m_windowPanel; }
    AppWindows* windows() const { return m_windows.get(); }
    // Valid after the start-up step.
    const AppModels* models() const { return m_models.get(); }

Q_SIGNALS:
    // The start-up step has run (servers autostarted, remote agent configured).
    void started();
    // Every server is gone after quit(): the process may exit with `code`.
    void finished(int code);

private:
    void startUp();
    void useWindowInsteadOfTray(const QString& reason);
    void togglePanel(const QRect& iconGeometry);
    void openDropDown(const QRect& anchor);
    void openWindowPanel();
    PanelWindow* createPanel(PanelWindow::Mode mode);
    bool trayUsable() const;
    void openWindow(AppOptions::Surface surface);

    const AppOptions m_options;
    std::chrono::milliseconds m_quitGrace = defaultQuitGrace;
    std::unique_ptr<SupervisorGraph> m_graph;
    std::unique_ptr<LoginItemManager> m_loginItem;
    std::unique_ptr<RemoteSetup> m_remote;
    std::unique_ptr<ServerListModel> m_servers;
    std::unique_ptr<ServerSummary> m_summary;
    std::unique_ptr<PanelCommands> m_commands;
    std::unique_ptr<AppModels> m_models;
    std::unique_ptr<AppWindows> m_windows;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<ControlVerbs> m_verbs;
    std::unique_ptr<SupervisionVerbs> m_supervisionVerbs;
    std::unique_ptr<ControlServer> m_control;
    QPointer<PanelWindow> m_dropDown;
    QPointer<PanelWindow> m_windowPanel;
    std::optional<AppOptions::Surface> m_pendingSurface;
    bool m_didAutostart = false;
    bool m_quitting = false;
    bool m_toldNoTray = false;
};

} // namespace Wardlamp
