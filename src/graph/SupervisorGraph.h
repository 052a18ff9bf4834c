#pragma once

#include <QProcessEnvironment>

#include <memory>

class QSettings;

namespace Wardlamp {

class AppSettings;
class ErrorAlertService;
class Notifier;
class ServerManager;
class ServerStore;
class Subreaper;
class SockDiagListenerScanner;

// The supervising half of the object graph, built the same way by the desktop
// app and by wardlampd: the settings file, the server store, the manager with
// the user's login shell and the port listener scanner, and the app settings.
// Constructing it makes this process the subreaper of what it starts.
//
// One per process, built on the main thread once the Q(Core)Application
// exists; everything in it lives until it is destroyed. Qt Core only: the
// parts that bring large libraries with them (remote access, notifications)
// are added by the program that wants them.
class SupervisorGraph {
public:
    // `environment` is read once: WL_SEED_SERVERS (a list for this run only),
    // SHELL and the XDG folders.
    explicit SupervisorGraph(const QProcessEnvironment& environment);
    ~SupervisorGraph();
    SupervisorGraph(const SupervisorGraph&) = delete;
    SupervisorGraph& operator=(const SupervisorGraph&) = delete;

    const QProcessEnvironment& environment() const { return m_environment; }
    QSettings& settings() { return *m_settings; }
    ServerStore& store() { return *m_store; }
    ServerManager& manager() { return *m_manager; }
    AppSettings& appSettings() { return *m_appSettings; }
    // The port listener scanner the manager uses (ls shows ports with it too).
    const SockDiagListenerScanner& listenerScanner() const { return *m_scanner; }

    // Installs the notifier that error alerts go to (none: alerts are only
    // written to standard error). Kept until replaced or the graph ends.
    void setNotifier(std::unique_ptr<Notifier> notifier);

    // Whether a session bus is there to talk to. Without one, asking for it
    // could make libdbus launch one (and that a keyring that prompts).
    bool sessionBusAvailable() const { return sessionBusAvailable(m_environment); }
    static bool sessionBusAvailable(const QProcessEnvironment& environment);

    // The problem with WL_SEED_SERVERS when it is set but unusable (the saved
    // list runs instead), else the empty text.
    static QString seedProblem(const QProcessEnvironment& environment);

private:
    const QProcessEnvironment m_environment;
    std::unique_ptr<QSettings> m_settings;
    std::shared_ptr<SockDiagListenerScanner> m_scanner;
    std::unique_ptr<Subreaper> m_subreaper; // null when the kernel refused the role
    std::unique_ptr<ErrorAlertService> m_alerts;
    std::unique_ptr<ServerStore> m_store;
    std::unique_ptr<ServerManager> m_manager;
    std::unique_ptr<AppSettings> m_appSettings;
    std::unique_ptr<Notifier> m_notifier;
};

} // namespace Wardlamp
