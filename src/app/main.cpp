// wardlamp: the desktop app. Builds the object graph, puts the icon in the
// tray and runs the event loop until the app is quit.

#include "app/AppInstance.h"
#include "app/AppOptions.h"
#include "app/ColorScheme.h"
#include "app/EmergencyStop.h"
#include "app/WardlampApp.h"
#include "graph/SupervisorGraph.h"
#include "platform/SignalWatcher.h"
#include "supervision/ServerManager.h"
#include "supervision/StandardError.h"
#include "supervision/Subreaper.h"

#include <QApplication>

#include <csignal>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace Wardlamp;

namespace {

void say(const QString& line)
{
    writeToStandardError(QString(u"wardlamp: "_s + line + u'\n').toUtf8());
}

void printOut(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

QStringList argumentList(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// Without a display Qt would abort; say what to use instead.
bool displayPresent()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char* argv[])
{
    std::signal(SIGPIPE, SIG_IGN);

    // Read before Qt sees the arguments: --help and --version need no display.
    const auto parsed = AppOptions::parse(argumentList(argc, argv));
    if (const QString* problem = std::get_if<QString>(&parsed)) {
        say(*problem + u" (see wardlamp --help)"_s);
        return AppExit::badUsage;
    }
    const AppOptions& options = std::get<AppOptions>(parsed);
    if (options.action == AppOptions::Action::showHelp) {
        printOut(AppOptions::helpText());
        return AppExit::ok;
    }
    if (options.action == AppOptions::Action::showVersion) {
        printOut(u"wardlamp "_s + QStringLiteral(WL_VERSION) + u'\n');
        return AppExit::ok;
    }
    // One Wardlamp per configuration: hand the request to the running one, or
    // refuse beside wardlampd, or take the lock and be the app.
    std::variant<AppInstance::Supervise, int> claim = AppInstance::claim(options, say);
    if (const int* code = std::get_if<int>(&claim))
        return *code;
    AppInstance::Supervise& instance = std::get<AppInstance::Supervise>(claim);
    if (!displayPresent()) {
        say(u"no display (DISPLAY and WAYLAND_DISPLAY are unset); wardlampd runs the servers without one"_s);
        return AppExit::failed;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"wardlamp"_s);
    QApplication::setApplicationDisplayName(u"Wardlamp"_s);
    QApplication::setApplicationVersion(QStringLiteral(WL_VERSION));
    QApplication::setDesktopFileName(u"wardlamp"_s);
    // The app lives in the tray: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    ColorScheme::apply(qEnvironmentVariable("WL_COLOR_SCHEME"));

    // Watch the stop signals before the first child exists.
    const auto signalWatcher = SignalWatcher::watch({ SIGINT, SIGTERM, SIGHUP });
    if (!signalWatcher) {
        say(u"cannot watch the stop signals: "_s + QString::fromStdString(signalWatcher.error().message()));
        return AppExit::failed;
    }
    int code = AppExit::ok;
    {
        WardlampApp wardlamp(options);
        // Servers of this configuration that outlived a supervisor killed with
        // SIGKILL still hold their ports: stopped before anything starts.
        wardlamp.graph().manager().setConfigurationTag(instance.paths.key.toLatin1());
        wardlamp.graph().manager().stopLeftovers();
        EmergencyStop::install(WardlampApp::defaultQuitGrace);
        QObject::connect(signalWatcher->get(), &SignalWatcher::received, &wardlamp, &WardlampApp::handleSignal);
        QObject::connect(&wardlamp, &WardlampApp::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
        if (const std::optional<QString> problem = wardlamp.serveControl(instance.paths.socketFile))
            say(u"no control socket (another launch cannot reach this one): "_s + *problem);
        wardlamp.start();
        if (options.action == AppOptions::Action::show)
            wardlamp.show(options.surface);
        code = app.exec();
        // The orderly stop for every end that did not come through quit()
        // (a session manager's quit); nothing is left after quit() itself.
        Subreaper::endAllChildren(WardlampApp::defaultQuitGrace);
        EmergencyStop::disarm();
    }
    return code;
}
