// Pictures of the log and settings windows for the README: the real windows
// over real models (a store, a manager running real shell commands, a pairing
// store, a remote agent), each grabbed to PNG. Run under a display (the
// screenshot script runs it under Xvfb at 100% and 200%, light and dark).
//   wl-window-shots OUT_DIR SUFFIX
#include "agent/PairingStore.h"
#include "agent/RemoteAgent.h"
#include "app/ColorScheme.h"
#include "platform/FileSecretStore.h"
#include "platform/LoginItemManager.h"
#include "supervision/AppSettings.h"
#include "supervision/ErrorAlertService.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "ui/models/LogSearch.h"
#include "ui/models/LogWindowModel.h"
#include "ui/models/PanelCommands.h"
#include "ui/models/ServerListModel.h"
#include "ui/models/ServerSummary.h"
#include "ui/models/SettingsWindowModel.h"
#include "ui/widgets/LogSearchBar.h"
#include "ui/widgets/LogsView.h"
#include "ui/widgets/LogsWindow.h"
#include "ui/widgets/SettingsView.h"
#include "ui/widgets/SettingsWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;
using namespace Wardlamp;

namespace {

void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void shoot(QWidget& window, const QString& path)
{
    window.show();
    window.raise();
    settle(400);
    if (!window.grab().save(path))
        qFatal("cannot write %s", qPrintable(path));
}

ServerConfig record(const QString& id, const QString& name, const QString& command, bool restart = false)
{
    ServerConfig config;
    config.id = QUuid::fromString(id);
    config.name = name;
    config.command = command;
    config.restartOnCrash = restart;
    return config;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        qFatal("usage: wl-window-shots OUT_DIR SUFFIX");
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString suffix = QString::fromLocal8Bit(argv[2]);
    ColorScheme::apply(qEnvironmentVariable("WL_COLOR_SCHEME"));

    QTemporaryDir scratch;
    QSettings settings(scratch.filePath(u"settings.conf"_s), QSettings::IniFormat);
    ServerStore store(settings, QProcessEnvironment());
    ErrorAlertService alerts;
    ServerManager::Options options;
    options.loginShell = u"/bin/sh"_s;
    options.alertService = &alerts;
    ServerManager manager(options);
    LoginItemManager loginItem(scratch.filePath(u"autostart/wardlamp.desktop"_s), u"/usr/bin/wardlamp"_s);
    AppSettings appSettings(settings);
    FileSecretStore secrets(scratch.filePath(u"secrets"_s));
    PairingStore pairing(settings, QProcessEnvironment(), secrets);
    RemoteAgent agent(QUrl(u"wss://relay.example.org/"_s));
    agent.configure(store, manager, pairing);
    ServerListModel servers(store, manager);
    ServerSummary summary(manager);
    PanelCommands commands(store, manager);
    const AppModels models { store, manager, loginItem, appSettings, pairing, agent, servers, summary, commands };

    // What the servers print: colours, bold and underline, a 256-colour and a
    // 24-bit stretch, a cursor move that is dropped, and an error line.
    const QString api = uR"(printf '\033[2m[vite]\033[0m \033[32m\033[1mready\033[0m in \033[1m412 ms\033[0m\n'
printf '  \033[32m➜\033[0m  \033[1mLocal\033[0m:   \033[36mhttp://localhost:\033[1m5173\033[0m\033[36m/\033[0m\n'
printf '  \033[32m➜\033[0m  \033[2mNetwork\033[0m: use \033[1m--host\033[0m to expose\n'
printf '\033[38;5;208mGET\033[0m /api/users \033[32m200\033[0m \033[2m12ms\033[0m\n'
printf '\033[38;2;120;140;255mPOST\033[0m /api/login \033[33m302\033[0m \033[2m48ms\033[0m\033[K\n'
printf '\033[4mwatching\033[0m src/ for changes \033[3m(hot reload)\033[0m\n'
printf 'GET /api/orders \033[31m500\033[0m\n'
echo 'Error: connect ECONNREFUSED 127.0.0.1:5432' >&2
printf '\033[33mwarn\033[0m retrying the database in 2 s\n'
printf 'GET /api/users \033[32m200\033[0m \033[2m9ms\033[0m\n'
exec sleep 3600)"_s;
    const QString worker
        = uR"(if [ -e "$WL_SHOTS_MARK" ]; then printf '\033[32mworker\033[0m started again\n'; exec sleep 3600; fi
touch "$WL_SHOTS_MARK"
printf '\033[32mworker\033[0m started, 4 jobs queued\n'
printf 'job 1 done\njob 2 done\n'
echo 'TypeError: Cannot read properties of undefined (reading "id")' >&2
echo '    at processJob (/srv/worker/jobs.js:42:17)' >&2
exit 1)"_s;
    qputenv("WL_SHOTS_MARK", scratch.filePath(u"worker-ran"_s).toLocal8Bit());
    const ServerConfig apiServer = record(u"{00000000-0000-4000-8000-000000000031}"_s, u"web"_s, api);
    const ServerConfig workerServer = record(u"{00000000-0000-4000-8000-000000000032}"_s, u"worker"_s, worker, true);
    ServerConfig docs = record(u"{00000000-0000-4000-8000-000000000033}"_s, u"docs"_s, u"mkdocs serve"_s);
    docs.directory = u"/home/me/projects/handbook"_s;
    docs.autostart = true;
    store.add(apiServer);
    store.add(workerServer);
    store.add(docs);
    manager.start(apiServer);
    manager.start(workerServer);
    // The worker crashes and comes back after its cooldown.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 15000
        && !(manager.previousRun(workerServer.id) && manager.state(workerServer.id).status == ServerStatus::running))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    settle(500);

    {
        LogsWindow logs(models);
        logs.resize(820, 440);
        logs.view()->model().select(apiServer.id);
        shoot(logs, out + u"/logs-colours"_s + suffix + u".png"_s);

        logs.findChild<LogSearchBar*>()->open();
        auto* field = logs.findChild<LogSearchBar*>()->findChild<QLineEdit*>();
        if (field)
            QTest::keyClicks(field, u"api"_s);
        QTest::keyClick(field, Qt::Key_Return);
        shoot(logs, out + u"/logs-search"_s + suffix + u".png"_s);
        logs.findChild<LogSearchBar*>()->close();

        logs.view()->model().select(workerServer.id);
        logs.view()->model().setRun(LogModel::Run::previous);
        shoot(logs, out + u"/logs-previous-run"_s + suffix + u".png"_s);
        logs.close();
    }

    {
        SettingsWindow window(models);
        window.resize(720, 560);
        shoot(window, out + u"/settings-general"_s + suffix + u".png"_s);

        window.view()->model().select(SettingsSelection::remote());
        shoot(window, out + u"/settings-remote-off"_s + suffix + u".png"_s);

        pairing.setMacName(u"workstation"_s);
        pairing.setEnabled(true);
        settle(300);
        window.resize(720, 900);
        shoot(window, out + u"/settings-remote-on"_s + suffix + u".png"_s);
        window.close();
    }

    {
        RemoteAgent noRelay(std::nullopt);
        noRelay.configure(store, manager, pairing);
        const AppModels broken { store, manager, loginItem, appSettings, pairing, noRelay, servers, summary, commands };
        noRelay.reconnect();
        SettingsWindow window(broken);
        window.resize(720, 560);
        window.view()->model().select(SettingsSelection::remote());
        shoot(window, out + u"/settings-remote-error"_s + suffix + u".png"_s);
        window.close();
    }

    {
        SettingsWindow window(models);
        window.resize(720, 620);
        window.view()->model().select(SettingsSelection::server(apiServer.id));
        shoot(window, out + u"/settings-editor"_s + suffix + u".png"_s);
        window.close();
    }

    manager.stopAll();
    clock.restart();
    while (manager.anyProcessAlive() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return 0;
}
