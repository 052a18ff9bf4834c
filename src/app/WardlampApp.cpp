#include "WardlampApp.h"

#include "agent/PairingStore.h"
#include "agent/RemoteSetup.h"
#include "control/ControlCall.h"
#include "control/ControlServer.h"
#include "control/ControlVerbs.h"
#include "control/SupervisionVerbs.h"
#include "graph/SupervisorGraph.h"
#include "platform/FreedesktopNotifier.h"
#include "platform/LoginItemManager.h"
#include "platform/SockDiagListenerScanner.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "supervision/StandardError.h"
#include "ui/logic/PanelPlacement.h"
#include "ui/models/AppModels.h"
#include "ui/models/PanelCommands.h"
#include "ui/models/ServerListModel.h"
#include "ui/models/ServerSummary.h"
#include "ui/widgets/AppWindows.h"
#include "ui/widgets/MenuContentView.h"
#include "ui/widgets/PanelWindow.h"
#include "ui/widgets/TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QProcessEnvironment>
#include <QSessionManager>
#include <QSettings>
#include <QSysInfo>
#include <QSystemTrayIcon>
#include <QTimer>

#include <csignal>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

void say(const QString& line)
{
    writeToStandardError(QString(u"Wardlamp: "_s + line + u'\n').toUtf8());
}

} // namespace

WardlampApp::WardlampApp(const AppOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
{
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (const QString problem = SupervisorGraph::seedProblem(environment); !problem.isEmpty())
        say(u"WL_SEED_SERVERS is ignored: "_s + problem + u"; using the saved list"_s);
    m_graph = std::make_unique<SupervisorGraph>(environment);
    if (m_graph->sessionBusAvailable())
        m_graph->setNotifier(std::make_unique<FreedesktopNotifier>());
    m_loginItem = std::make_unique<LoginItemManager>();

    m_servers = std::make_unique<ServerListModel>(m_graph->store(), m_graph->manager());
    m_summary = std::make_unique<ServerSummary>(m_graph->manager());
    m_commands = std::make_unique<PanelCommands>(m_graph->store(), m_graph->manager());
    connect(m_commands.get(), &PanelCommands::logsRequested, this, [this] { show(AppOptions::Surface::logs); });
    connect(m_commands.get(), &PanelCommands::settingsRequested, this, [this] { show(AppOptions::Surface::settings); });
    connect(m_commands.get(), &PanelCommands::quitRequested, this, &WardlampApp::quit);

    // Launch at login is an XDG autostart entry: the session manager must not
    // also restore the app from a saved session, or it would start twice.
    auto neverRestart = [](QSessionManager& manager) { manager.setRestartHint(QSessionManager::RestartNever); };
    connect(qApp, &QGuiApplication::commitDataRequest, this, neverRestart);
    connect(qApp, &QGuiApplication::saveStateRequest, this, neverRestart);
}

WardlampApp::~WardlampApp()
{
    // The front doors first, then the views before the models they show, the
    // models before the graph.
    m_control.reset();
    m_supervisionVerbs.reset();
    m_verbs.reset();
    m_tray.reset();
    delete m_dropDown;
    delete m_windowPanel;
    m_windows.reset();
    m_models.reset();
    m_commands.reset();
    m_summary.reset();
    m_servers.reset();
    m_remote.reset();
    m_loginItem.reset();
    m_graph.reset();
}

bool WardlampApp::trayUsable() const
{
    return m_tray && QSystemTrayIcon::isSystemTrayAvailable();
}

void WardlampApp::start()
{
    m_tray = std::make_unique<TrayIcon>(*m_summary, *m_servers, *m_commands);
    connect(m_tray.get(), &TrayIcon::panelRequested, this, &WardlampApp::togglePanel);
    // Shown even without a tray: it docks by itself when a tray appears.
    m_tray->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (m_options.autostarted) {
            // At login the panel (and its tray) may come up after us.
            QTimer::singleShot(trayWait, this, [this] {
                if (!QSystemTrayIcon::isSystemTrayAvailable())
                    useWindowInsteadOfTray(u"no system tray appeared within 20 seconds"_s);
            });
        } else {
            useWindowInsteadOfTray(u"no system tray is available"_s);
        }
    }
    QTimer::singleShot(0, this, &WardlampApp::startUp);
}

void WardlampApp::useWindowInsteadOfTray(const QString& reason)
{
    if (!m_toldNoTray) {
        m_toldNoTray = true;
        say(reason
            + u" (GNOME needs an extension for tray icons); the panel opens as a window titled \"Wardlamp\". "
              "`wardlamp` shows it again, `wardlamp --quit` ends the app."_s);
    }
    openWindowPanel();
}

void WardlampApp::startUp()
{
    if (m_didAutostart || m_quitting)
        return;
    m_didAutostart = true;
    ServerStore& store = m_graph->store();
    ServerManager& manager = m_graph->manager();
    manager.startAutostartServers(store.servers());

    // After the icon is up and the servers started: the keyring may take its
    // time to answer (boundedly).
    m_remote
        = std::make_unique<RemoteSetup>(m_graph->settings(), m_graph->environment(), m_graph->sessionBusAvailable());
    m_models = std::make_unique<AppModels>(AppModels { store, manager, *m_loginItem, m_graph->appSettings(),
        m_remote->pairing(), m_remote->agent(), *m_servers, *m_summary, *m_commands });
    m_windows = std::make_unique<AppWindows>(*m_models);
    m_remote->start(store, manager);
    // Built now, while nothing is asked of the app, so the first click on the
    // icon only shows it.
    if (m_tray && QSystemTrayIcon::isSystemTrayAvailable() && !m_dropDown)
        m_dropDown = createPanel(PanelWindow::Mode::dropDown);
    Q_EMIT started();
    if (m_pendingSurface) {
        const AppOptions::Surface surface = *m_pendingSurface;
        m_pendingSurface.reset();
        show(surface);
    }
}

PanelWindow* WardlampApp::createPanel(PanelWindow::Mode mode)
{
    auto* content = new MenuContentView(*m_servers, *m_summary, *m_commands);
    return new PanelWindow(content, mode);
}

void WardlampApp::togglePanel(const QRect& iconGeometry)
{
    if (m_quitting)
        return;
    if (m_dropDown && m_dropDown->isVisible()) {
        m_dropDown->close();
        return;
    }
    // The click on the icon that closed the popup comes through as well.
    if (m_dropDown && m_dropDown->closedJustNow())
        return;
    openDropDown(PanelPlacement::anchor(iconGeometry, QCursor::pos()));
}

void WardlampApp::openDropDown(const QRect& anchor)
{
    if (!m_dropDown)
        m_dropDown = createPanel(PanelWindow::Mode::dropDown);
    m_dropDown->open(anchor);
}

void WardlampApp::openWindowPanel()
{
    if (!m_windowPanel)
        m_windowPanel = createPanel(PanelWindow::Mode::window);
    m_windowPanel->open(QRect());
}

void WardlampApp::show(AppOptions::Surface surface)
{
    if (m_quitting)
        return;
    switch (surface) {
    case AppOptions::Surface::panel:
        if (trayUsable() && m_tray->isVisible())
            openDropDown(PanelPlacement::anchor(m_tray->systemTrayIcon()->geometry(), QCursor::pos()));
        else
            openWindowPanel();
        return;
    case AppOptions::Surface::logs:
    case AppOptions::Surface::settings:
        openWindow(surface);
        return;
    }
}

void WardlampApp::openWindow(AppOptions::Surface surface)
{
    if (!m_windows) {
        // Before the start-up step (asked by --show right at launch): after it.
        m_pendingSurface = surface;
        return;
    }
    if (m_dropDown)
        m_dropDown->close();
    m_windows->open(surface == AppOptions::Surface::logs ? WindowId::logs : WindowId::settings);
}

void WardlampApp::quit()
{
    ServerManager& manager = m_graph->manager();
    if (m_quitting) {
        // Asked again: no more waiting for servers that ignore SIGTERM.
        manager.shutdown(std::chrono::milliseconds(0));
        return;
    }
    m_quitting = true;
    if (m_dropDown)
        m_dropDown->close();
    if (m_windowPanel)
        m_windowPanel->close();
    if (m_windows)
        m_windows->closeAll();
    if (m_tray)
        m_tray->hide();
    connect(
        &manager, &ServerManager::shutdownFinished, this, [this] { Q_EMIT finished(0); }, Qt::QueuedConnection);
    manager.shutdown(m_quitGrace);
}

std::optional<QString> WardlampApp::serveControl(const QString& socketFile)
{
    m_verbs = std::make_unique<ControlVerbs>();
    SupervisionVerbs::Options options;
    options.program = u"wardlamp"_s;
    options.computerName = [this] {
        const QVariant name = m_graph->settings().value(PairingStore::macNameKey);
        return name.isValid() ? name.toString() : QSysInfo::machineHostName();
    };
    options.portScanner = &m_graph->listenerScanner();
    m_supervisionVerbs = std::make_unique<SupervisionVerbs>(*m_verbs, m_graph->store(), &m_graph->manager(), options);
    m_verbs->add(u"show"_s, [this](ControlCall& call) {
        const QString surface = call.args().value(u"surface"_s).toString(u"panel"_s);
        const std::optional<AppOptions::Surface> which = AppOptions::surfaceFromName(surface);
        if (!which) {
            call.fail(ControlErrorCode::badArguments, u"surface must be panel, logs or settings"_s);
            return;
        }
        if (m_quitting) {
            call.fail(ControlErrorCode::failed, u"Wardlamp is quitting"_s);
            return;
        }
        show(*which);
        call.reply({ { u"shown"_s, surface } });
    });
    // `wardlampd pair` and `wardlampd remote …` beside the app act on its one
    // pairing store, so a new key or password takes effect at once.
    for (const QString& verb : { u"pair"_s, u"remote"_s }) {
        m_verbs->add(verb, [this](ControlCall& call) {
            if (!m_remote) {
                call.reply(
                    RemoteReply { 6, {}, { u"remote access is not set up yet; try again in a moment"_s } }.toJson());
                return;
            }
            call.reply(m_remote->runCommand(RemoteRequest::fromJson(call.args())).toJson());
        });
    }
    m_verbs->add(u"quit"_s, [this](ControlCall& call) {
        call.reply();
        // After the reply has gone out.
        QTimer::singleShot(0, this, &WardlampApp::quit);
    });
    m_control = std::make_unique<ControlServer>(*m_verbs, ControlServer::Options { u"wardlamp"_s });
    return m_control->listen(socketFile);
}

void WardlampApp::handleSignal(int signalNumber)
{
    if (!m_quitting) {
        const char* abbreviation = sigabbrev_np(signalNumber);
        say((abbreviation ? u"SIG"_s + QString::fromLatin1(abbreviation) : u"signal "_s + QString::number(signalNumber))
            + u": stopping every server"_s);
    }
    quit();
}

} // namespace Wardlamp
