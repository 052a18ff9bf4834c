// wardlampd: the servers of Wardlamp without a desktop. Builds the object graph,
// runs the event loop, and exits with a status that says how the run ended.

#include "agent/SecretStore.h"
#include "daemon/Daemon.h"
#include "daemon/DaemonOptions.h"
#include "daemon/DaemonRemote.h"
#include "daemon/LogPrinter.h"
#include "daemon/RemoteCommand.h"
#include "daemon/ServersFile.h"
#include "daemon/SignalWatcher.h"
#include "platform/FreedesktopNotifier.h"
#include "platform/LoginShell.h"
#include "platform/SettingsLocation.h"
#include "platform/SockDiagListenerScanner.h"
#include "supervision/ErrorAlertService.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "supervision/StandardError.h"
#include "supervision/Subreaper.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QSettings>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Wardlamp;

namespace {

void say(const QString& line)
{
    writeToStandardError(QString(u"wardlampd: "_s + line + u'\n').toUtf8());
}

void printOut(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

bool useColour(DaemonOptions::Colour colour, const QProcessEnvironment& environment)
{
    switch (colour) {
    case DaemonOptions::Colour::always:
        return true;
    case DaemonOptions::Colour::never:
        return false;
    case DaemonOptions::Colour::automatic:
        break;
    }
    return ::isatty(STDOUT_FILENO) && !environment.contains(u"NO_COLOR"_s) && environment.value(u"TERM"_s) != u"dumb"_s;
}

// Without a session bus the notifier could make libdbus try to launch one;
// only talk to a bus that is there.
bool sessionBusAvailable(const QProcessEnvironment& environment)
{
    if (!environment.value(u"DBUS_SESSION_BUS_ADDRESS"_s).isEmpty())
        return true;
    const QString runtime = environment.value(u"XDG_RUNTIME_DIR"_s);
    return !runtime.isEmpty() && QFileInfo::exists(runtime + u"/bus"_s);
}

} // namespace

int main(int argc, char* argv[])
{
    // A reader of our output that goes away must not kill the servers' supervisor.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"wardlampd"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(WL_VERSION));

    // `wardlampd pair` and `wardlampd remote ...` set up remote access and exit.
    if (RemoteCommand::handles(QCoreApplication::arguments())) {
        const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        std::unique_ptr<QSettings> settings = SettingsLocation::open();
        const auto secrets = DaemonRemote::openSecretStore(sessionBusAvailable(environment));
        return RemoteCommand::run(QCoreApplication::arguments(), *settings, environment, *secrets,
                                  RemoteCommand::standardIo());
    }

    const auto parsed = DaemonOptions::parse(QCoreApplication::arguments());
    if (const QString* problem = std::get_if<QString>(&parsed)) {
        say(*problem + u" (see wardlampd --help)"_s);
        return DaemonExit::badInput;
    }
    const DaemonOptions& options = std::get<DaemonOptions>(parsed);
    if (options.action == DaemonOptions::Action::showHelp) {
        printOut(DaemonOptions::helpText());
        return DaemonExit::ok;
    }
    if (options.action == DaemonOptions::Action::showVersion) {
        printOut(u"wardlampd "_s + QCoreApplication::applicationVersion() + u'\n');
        return DaemonExit::ok;
    }

    // Watch the stop signals before the first child exists.
    SignalWatcher signalWatcher({ SIGINT, SIGTERM, SIGHUP });

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (options.serversFile) {
        const auto file = ServersFile::read(*options.serversFile);
        if (const QString* problem = std::get_if<QString>(&file)) {
            say(*problem);
            return DaemonExit::badInput;
        }
        // The store's seeded mode: run this list, never write the saved one.
        environment.insert(QString(ServerStore::seedVariable), QString::fromUtf8(std::get<QByteArray>(file)));
    } else if (environment.contains(ServerStore::seedVariable)) {
        QString problem;
        if (!ServerConfig::decodeList(environment.value(ServerStore::seedVariable).toUtf8(), &problem))
            say(u"WL_SEED_SERVERS is ignored: "_s + problem + u"; using the saved list"_s);
    }

    Subreaper::install();

    std::unique_ptr<FreedesktopNotifier> notifier;
    if (sessionBusAvailable(environment)) {
        notifier = std::make_unique<FreedesktopNotifier>();
        ErrorAlertService::shared().setNotifier(notifier.get());
    }

    std::unique_ptr<QSettings> settings = SettingsLocation::open();
    ServerStore store(*settings, environment);

    ServerManager::Options managerOptions;
    managerOptions.loginShell = LoginShell::path();
    managerOptions.listenerScanner = std::make_shared<SockDiagListenerScanner>();
    ServerManager manager(managerOptions);

    LogPrinter printer(STDOUT_FILENO, useColour(options.colour, environment));
    Daemon daemon(options, store, manager, printer);
    QObject::connect(&signalWatcher, &SignalWatcher::received, &daemon, &Daemon::handleSignal);
    QObject::connect(&daemon, &Daemon::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);

    daemon.start();
    // Remote access after the autostart servers, as the desktop app does it.
    std::unique_ptr<DaemonRemote> remote;
    if (DaemonRemote::wanted(*settings, environment)) {
        remote = std::make_unique<DaemonRemote>(*settings, environment, sessionBusAvailable(environment), say);
        remote->start(store, manager);
    }
    const int code = app.exec();
    // Nothing outlives the daemon: whatever a server left behind (a daemonised
    // grandchild the manager never saw) ends with it.
    Subreaper::endAllChildren(options.grace);
    ErrorAlertService::shared().setNotifier(nullptr);
    return code;
}
