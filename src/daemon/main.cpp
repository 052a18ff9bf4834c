// wardlampd: the servers of Wardlamp without a desktop. Builds the object graph,
// runs the event loop, and exits with a status that says how the run ended.

#include "control/ControlPaths.h"
#include "control/ControlServer.h"
#include "control/ControlVerbs.h"
#include "control/SupervisionVerbs.h"
#include "control/SupervisorLock.h"
#include "daemon/Daemon.h"
#include "daemon/DaemonOptions.h"
#include "daemon/DaemonPlugin.h"
#include "daemon/LogPrinter.h"
#include "daemon/RemoteVerbs.h"
#include "daemon/SecretInput.h"
#include "daemon/ServersFile.h"
#include "daemon/TerminalWriter.h"
#include "daemon/VerbLine.h"
#include "daemon/VerbRunner.h"
#include "graph/SupervisorGraph.h"
#include "platform/SettingsLocation.h"
#include "platform/SignalWatcher.h"
#include "platform/SockDiagListenerScanner.h"
#include "supervision/Notifier.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "supervision/StandardError.h"
#include "supervision/Subreaper.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QSettings>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

// Standard error of a daemon run, written on a thread of its own: a reader
// that blocks it (`wardlampd 2>&1 | less`) holds up nothing.
std::atomic<TerminalWriter*> s_errorWriter { nullptr };

void writeErrors(QByteArrayView text)
{
    if (TerminalWriter* writer = s_errorWriter.load())
        writer->write(text, std::max<qsizetype>(1, text.count('\n')));
}

// Qt's messages (a category's warnings, and with -v its debug lines) the same
// way, one line each, formatted as QT_MESSAGE_PATTERN says.
void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QString line = qFormatLogMessage(type, context, message);
    line.replace(u'\n', u' ');
    writeToStandardError(QString(line + u'\n').toUtf8());
}

} // namespace

int main(int argc, char* argv[])
{
    // A reader of our output that goes away must not kill the servers' supervisor.
    std::signal(SIGPIPE, SIG_IGN);

    // Nothing in wardlampd needs the GLib main loop: Qt's own event dispatcher
    // does the same work with less memory. A choice made in the environment
    // stands; ours is not passed on to the servers.
    const bool dispatcherChosen = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!dispatcherChosen)
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    if (!dispatcherChosen)
        qunsetenv("QT_NO_GLIB");
    QCoreApplication::setApplicationName(u"wardlampd"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(WL_VERSION));

    // `wardlampd ls` and the other verbs talk to the running supervisor (or,
    // with none, act on the saved settings) and exit.
    if (VerbLine::handles(QCoreApplication::arguments())) {
        const Expected<VerbLine, QString> line = VerbLine::parse(QCoreApplication::arguments());
        if (!line) {
            say(line.error() + u" (see wardlampd "_s + QCoreApplication::arguments().at(1) + u" --help)"_s);
            return DaemonExit::badInput;
        }
        const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        VerbRunner::Io io;
        io.out = printOut;
        io.err = say;
        io.colour = useColour(DaemonOptions::Colour::automatic, environment);
        io.readSecretLine = SecretInput::readLine;
        io.runRemoteLocally
            = [&environment](const QStringList& words, const RemoteInputs& inputs, QSettings& settings) {
                  return RemoteVerbs::runLocally(
                      words, inputs, settings, environment, SupervisorGraph::sessionBusAvailable(environment));
              };
        VerbRunner runner(SettingsLocation::filePath(), environment, io);
        return runner.run(*line);
    }

    const Expected<DaemonOptions, QString> parsed = DaemonOptions::parse(QCoreApplication::arguments());
    if (!parsed) {
        say(parsed.error() + u" (see wardlampd --help)"_s);
        return DaemonExit::badInput;
    }
    const DaemonOptions& options = *parsed;
    if (options.action == DaemonOptions::Action::showHelp) {
        printOut(DaemonOptions::helpText() + VerbLine::overview());
        return DaemonExit::ok;
    }
    if (options.action == DaemonOptions::Action::showVersion) {
        printOut(u"wardlampd "_s + QCoreApplication::applicationVersion() + u'\n');
        return DaemonExit::ok;
    }

    // From here on nothing this run writes to the terminal may block it.
    TerminalWriter errorWriter(STDERR_FILENO);
    s_errorWriter.store(&errorWriter);
    setStandardErrorSink(writeErrors);
    qInstallMessageHandler(handleMessage);
    // wardlamp's own debug and info lines (a reaped orphan, every snapshot
    // pushed) only with -v; QT_LOGGING_RULES, read after these, says otherwise.
    if (!options.verbose)
        QLoggingCategory::setFilterRules(u"wardlamp.*.debug=false\nwardlamp.*.info=false"_s);
    const auto restoreStandardError = qScopeGuard([] {
        qInstallMessageHandler(nullptr);
        setStandardErrorSink(nullptr);
        s_errorWriter.store(nullptr);
    });

    // Watch the stop signals before the first child exists.
    const auto signalWatcher = SignalWatcher::watch({ SIGINT, SIGTERM, SIGHUP });
    if (!signalWatcher) {
        say(u"cannot watch the stop signals: "_s + QString::fromStdString(signalWatcher.error().message()));
        return EXIT_FAILURE;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (options.serversFile) {
        const Expected<QByteArray, QString> file = ServersFile::read(*options.serversFile);
        if (!file) {
            say(file.error());
            return DaemonExit::badInput;
        }
        // The store's seeded mode: run this list, never write the saved one.
        environment.insert(QString(ServerStore::seedVariable), QString::fromUtf8(*file));
    } else if (const QString problem = SupervisorGraph::seedProblem(environment); !problem.isEmpty()) {
        say(u"WL_SEED_SERVERS is ignored: "_s + problem + u"; using the saved list"_s);
    }

    // One supervisor per configuration: a second one would start every server
    // twice and join the relay room as a second agent.
    const Expected<ControlPaths, QString> controlPaths
        = ControlPaths::resolve(SettingsLocation::filePath(), QProcessEnvironment::systemEnvironment());
    if (!controlPaths) {
        say(u"cannot set up this configuration's lock and control socket: "_s + controlPaths.error()
            + u"; point XDG_RUNTIME_DIR at a folder of yours"_s);
        return DaemonExit::noControlFolder;
    }
    Expected<SupervisorLock, SupervisorLock::Refusal> lock
        = SupervisorLock::acquire(*controlPaths, LockHolder::Role::supervisor, u"wardlampd"_s);
    if (!lock) {
        if (lock.error().holder) {
            say(u"%1 already supervises this configuration (%2); stop it first, or give this run an "
                "XDG_CONFIG_HOME of its own"_s.arg(lock.error().holder->describe(), controlPaths->settingsFile));
            return DaemonExit::alreadySupervised;
        }
        say(u"cannot take this configuration's lock: "_s + lock.error().problem);
        return DaemonExit::noControlFolder;
    }

    // The same graph as the desktop app's; no server starts before daemon.start().
    SupervisorGraph graph(environment);
    // Servers of this configuration that outlived a supervisor killed with
    // SIGKILL still hold their ports: stopped before anything starts.
    graph.manager().setConfigurationTag(controlPaths->key.toLatin1());
    graph.manager().stopLeftovers();
    // The local front doors: `wardlampd ls` and the other verbs, from any terminal.
    ControlVerbs verbs;
    RemoteVerbs remote(verbs, graph.settings(), environment, graph.sessionBusAvailable(), say);
    // Remote access is refused before any server starts when its plugin is not there.
    if (DaemonPlugin::remoteAccessWanted(graph.settings(), environment)) {
        if (const auto problem = remote.loadPlugin()) {
            say(u"remote access is on but not available: "_s + *problem
                + u" (switch it off with WL_REMOTE_ENABLED=0 or `wardlampd remote disable`)"_s);
            return DaemonExit::missingPlugin;
        }
    }

    if (graph.sessionBusAvailable()) {
        const Expected<DaemonPlugin, QString> plugin = DaemonPlugin::load(DaemonPlugin::notify);
        if (!plugin)
            say(u"no desktop notifications: "_s + plugin.error());
        else
            graph.setNotifier(plugin->api().createNotifier());
    }

    SupervisionVerbs::Options verbOptions;
    verbOptions.program = u"wardlampd"_s;
    verbOptions.computerName = [&remote] { return remote.computerName(); };
    verbOptions.portScanner = &graph.listenerScanner();
    SupervisionVerbs supervisionVerbs(verbs, graph.store(), &graph.manager(), verbOptions);
    ControlServer control(verbs, { u"wardlampd"_s });
    if (const auto problem = control.listen(controlPaths->socketFile))
        say(u"no control socket (the verbs cannot reach this run): "_s + *problem);

    LogPrinter printer(STDOUT_FILENO, useColour(options.colour, environment));
    Daemon daemon(options, graph.store(), graph.manager(), printer);
    QObject::connect(signalWatcher->get(), &SignalWatcher::received, &daemon, &Daemon::handleSignal);
    QObject::connect(&daemon, &Daemon::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);

    daemon.start();
    // Remote access after the autostart servers, as the desktop app does it.
    remote.start(graph.store(), graph.manager());
    const int code = app.exec();
    // Nothing outlives the daemon: whatever a server left behind (a daemonised
    // grandchild the manager never saw) ends with it.
    Subreaper::endAllChildren(options.grace);
    // The last lines reach a reader that reads; one that does not is left.
    printer.flush(std::chrono::seconds(2));
    errorWriter.flush(std::chrono::seconds(2));
    return code;
}
