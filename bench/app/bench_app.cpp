// Desktop app timings, in process, under a real X server with a tray host
// (bench/app/run.sh starts Xvfb and trayer):
//   launch: from the process's start to the tray icon docked (geometry known);
//   open:   from the icon's activation to the panel's first paint, cold (the
//           panel is built) and warm, with 3 and 200 servers;
//   stalls: the worst gap of a 4 ms timer while 10 servers print 1,000 lines/s
//           each with the panel open.
// Prints one line per figure.
#include "app/AppOptions.h"
#include "app/WardlampApp.h"
#include "graph/SupervisorGraph.h"
#include "supervision/ServerConfig.h"
#include "supervision/ServerManager.h"
#include "supervision/ShellCommand.h"
#include "ui/widgets/MenuContentView.h"
#include "ui/widgets/PanelWindow.h"
#include "ui/widgets/TrayIcon.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Wardlamp;

namespace {

// Milliseconds since this process started (from /proc, so QApplication's own
// start-up counts).
double sinceProcessStart()
{
    QFile stat(u"/proc/self/stat"_s);
    stat.open(QIODevice::ReadOnly);
    const QByteArray data = stat.readAll();
    const QList<QByteArray> fields = data.mid(data.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble();
    timespec now {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (now.tv_sec + now.tv_nsec / 1e9 - startTicks / double(sysconf(_SC_CLK_TCK))) * 1000.0;
}

bool waitFor(const std::function<bool()>& condition, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

QString childCommand(const QStringList& steps)
{
    QStringList words { ShellCommand::quoted(QCoreApplication::applicationDirPath() + u"/wl-test-child"_s) };
    for (const QString& step : steps)
        words.append(ShellCommand::quoted(step));
    return words.join(u' ');
}

QByteArray servers(int count, const QStringList& steps, bool autostart)
{
    QList<ServerConfig> list;
    for (int i = 0; i < count; ++i) {
        ServerConfig config;
        config.id = QUuid::createUuid();
        config.name = u"server %1"_s.arg(i + 1);
        config.command = childCommand(steps);
        config.autostart = autostart;
        list.append(config);
    }
    return ServerConfig::encodeList(list);
}

// Paint events of the panel's content, timed.
class PaintWatch : public QObject {
public:
    QElapsedTimer clock;
    double firstPaintMs = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && firstPaintMs < 0)
            firstPaintMs = clock.nsecsElapsed() / 1e6;
        return QObject::eventFilter(watched, event);
    }
};

double openPanel(WardlampApp& app, PaintWatch& watch)
{
    watch.firstPaintMs = -1;
    watch.clock.start();
    // What the icon's click does.
    Q_EMIT app.trayIcon()->systemTrayIcon()->activated(QSystemTrayIcon::Trigger);
    if (app.dropDownPanel())
        app.dropDownPanel()->content()->installEventFilter(&watch);
    waitFor([&] { return watch.firstPaintMs >= 0; }, 5000);
    const double ms = watch.firstPaintMs;
    app.dropDownPanel()->close();
    waitFor([&] { return !app.dropDownPanel()->closedJustNow(); }, 1000);
    return ms;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(u"wardlamp"_s);
    QApplication::setQuitOnLastWindowClosed(false);
    // After the QApplication: the helper child is found beside this program.
    qputenv("SHELL", "/bin/sh");
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : u"launch"_s;
    if (mode == u"launch"_s)
        qputenv("WL_SEED_SERVERS", "[]");
    else if (mode == u"open"_s)
        qputenv("WL_SEED_SERVERS", servers(argc > 2 ? atoi(argv[2]) : 3, { u"hold"_s }, false));
    else // stalls: 10 servers, 1,000 lines a second each for 20 s
    {
        QStringList steps;
        for (int i = 0; i < 200; ++i)
            steps << u"lines:100:60"_s << u"sleep:100"_s;
        steps << u"hold"_s;
        qputenv("WL_SEED_SERVERS", servers(10, steps, true));
    }
    WardlampApp app { AppOptions {} };
    app.start();
    QSystemTrayIcon* tray = app.trayIcon()->systemTrayIcon();
    if (!waitFor([&] { return tray->geometry().isValid() && !tray->geometry().isEmpty(); }, 10000)) {
        std::fprintf(stderr, "bench_app: the tray icon never docked (is a tray host running?)\n");
        return 1;
    }
    if (mode == u"launch"_s) {
        std::printf("launch -> tray icon docked: %.1f ms\n", sinceProcessStart());
    } else if (mode == u"open"_s) {
        waitFor([&] { return app.didAutostart(); }, 10000);
        PaintWatch watch;
        const double cold = openPanel(app, watch);
        std::vector<double> warm;
        for (int i = 0; i < 20; ++i)
            warm.push_back(openPanel(app, watch));
        std::sort(warm.begin(), warm.end());
        std::printf("activation -> panel painted, %s servers: cold %.1f ms, warm median %.1f ms, worst %.1f ms\n",
            argc > 2 ? argv[2] : "3", cold, warm[warm.size() / 2], warm.back());
    } else {
        waitFor([&] { return app.didAutostart(); }, 10000);
        PaintWatch watch;
        openPanel(app, watch);
        Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
        QElapsedTimer clock;
        clock.start();
        qint64 last = clock.nsecsElapsed();
        double worst = 0;
        std::vector<double> gaps;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            const double gap = (now - last) / 1e6;
            gaps.push_back(gap);
            worst = std::max(worst, gap);
            last = now;
        });
        tick.start(4);
        QEventLoop loop;
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        std::sort(gaps.begin(), gaps.end());
        quint64 lines = 0;
        for (const auto& state : app.graph().manager().states())
            lines += state.logs.isEmpty() ? 0 : state.logs.lastSeq();
        std::printf("10 servers x 1,000 lines/s for 20 s, panel open: worst gap of a 4 ms timer %.1f ms, p99 %.1f ms, "
                    "%llu lines taken in\n",
            worst, gaps[gaps.size() * 99 / 100], static_cast<unsigned long long>(lines));
    }
    app.quit();
    waitFor([&] { return !app.graph().manager().anyProcessAlive(); }, 10000);
    return 0;
}
