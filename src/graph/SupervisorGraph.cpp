#include "SupervisorGraph.h"

#include "platform/LoginShell.h"
#include "platform/SettingsLocation.h"
#include "platform/SockDiagListenerScanner.h"
#include "supervision/AppSettings.h"
#include "supervision/ErrorAlertService.h"
#include "supervision/Notifier.h"
#include "supervision/ServerConfig.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "supervision/Subreaper.h"

#include <QFileInfo>
#include <QSettings>

namespace Wardlamp {

using namespace Qt::StringLiterals;

SupervisorGraph::SupervisorGraph(const QProcessEnvironment& environment)
    : m_environment(environment)
{
    // Before the first child exists, so every descendant stays ours to stop.
    m_subreaper = Subreaper::install();
    ServerManager::installPipeWakeSignal();
    m_alerts = std::make_unique<ErrorAlertService>();
    m_settings = SettingsLocation::open();
    m_store = std::make_unique<ServerStore>(*m_settings, m_environment);
    ServerManager::Options options;
    options.loginShell = LoginShell::path();
    m_scanner = std::make_shared<SockDiagListenerScanner>();
    options.listenerScanner = m_scanner;
    options.alertService = m_alerts.get();
    options.subreaper = m_subreaper.get();
    m_manager = std::make_unique<ServerManager>(options);
    m_appSettings = std::make_unique<AppSettings>(*m_settings);
}

SupervisorGraph::~SupervisorGraph()
{
    setNotifier(nullptr);
}

void SupervisorGraph::setNotifier(std::unique_ptr<Notifier> notifier)
{
    m_alerts->setNotifier(notifier.get());
    m_notifier = std::move(notifier);
}

bool SupervisorGraph::sessionBusAvailable(const QProcessEnvironment& environment)
{
    if (!environment.value(u"DBUS_SESSION_BUS_ADDRESS"_s).isEmpty())
        return true;
    const QString runtime = environment.value(u"XDG_RUNTIME_DIR"_s);
    return !runtime.isEmpty() && QFileInfo::exists(runtime + u"/bus"_s);
}

QString SupervisorGraph::seedProblem(const QProcessEnvironment& environment)
{
    if (!environment.contains(ServerStore::seedVariable))
        return QString();
    const auto seed = ServerConfig::decodeList(environment.value(ServerStore::seedVariable).toUtf8());
    if (seed)
        return ServerConfig::duplicateIds(*seed).value_or(QString());
    return seed.error().isEmpty() ? u"it is not a server list"_s : seed.error();
}

} // namespace Wardlamp
