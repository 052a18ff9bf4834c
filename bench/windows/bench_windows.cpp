// The log window under load, in process, with the real widgets on a real X
// server (run.sh starts Xvfb):
//   stream RATE SECONDS: one server prints RATE lines/s for SECONDS, its log
//       shown with auto-scroll on; the worst gap of a 4 ms timer, the main
//       thread's CPU time, RSS every 5 s;
//   open: 10 servers holding 2,000 lines each; the window from its creation
//       to the log's first paint, switching servers to the log's paint, and a
//       search over 2,000 lines.
// Prints one line per figure.
#include "supervision/ErrorAlertService.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "supervision/ShellCommand.h"
#include "ui/models/LogSearch.h"
#include "ui/models/LogWindowModel.h"
#include "ui/models/PanelCommands.h"
#include "ui/models/ServerListModel.h"
#include "ui/widgets/LogView.h"
#include "ui/widgets/LogsView.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Wardlamp;

namespace {

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

// CPU seconds (user + system) of this thread so far.
double threadCpuSeconds()
{
    QFile stat(u"/proc/self/task/%1/stat"_s.arg(long(syscall(SYS_gettid))));
    stat.open(QIODevice::ReadOnly);
    const QByteArray data = stat.readAll();
    const QList<QByteArray> fields = data.mid(data.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

double rssMiB()
{
    QFile status(u"/proc/self/status"_s);
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

QString program(const QString& name)
{
    return QCoreApplication::applicationDirPath() + u'/' + name;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Counts the paint events of a widget, and when the first one after a reset came.
class PaintWatch : public QObject {
public:
    QElapsedTimer clock;
    double firstPaintMs = -1;

    void reset()
    {
        firstPaintMs = -1;
        clock.start();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && firstPaintMs < 0) {
            // Timed after the paint itself.
            const bool handled = watched->event(event);
            firstPaintMs = clock.nsecsElapsed() / 1e6;
            return handled;
        }
        return QObject::eventFilter(watched, event);
    }
};

struct Setup {
    QTemporaryDir dir;
    QSettings settings { dir.filePath(u"bench.conf"_s), QSettings::IniFormat };
    ErrorAlertService alerts;
    ServerStore store { settings, QProcessEnvironment() };
    std::unique_ptr<ServerManager> manager;
    std::unique_ptr<ServerListModel> servers;
    std::unique_ptr<PanelCommands> commands;

    Setup()
    {
        ServerManager::Options options;
        options.loginShell = u"/bin/sh"_s;
        options.alertService = &alerts;
        manager = std::make_unique<ServerManager>(options);
        servers = std::make_unique<ServerListModel>(store, *manager);
        commands = std::make_unique<PanelCommands>(store, *manager);
    }
    ~Setup()
    {
        manager->shutdown(std::chrono::milliseconds(500));
        waitFor([&] { return !manager->anyProcessAlive(); }, 10000);
    }

    ServerConfig add(const QString& name, const QStringList& words)
    {
        ServerConfig config;
        config.id = QUuid::createUuid();
        config.name = name;
        QStringList quoted;
        for (const QString& word : words)
            quoted.append(ShellCommand::quoted(word));
        config.command = quoted.join(u' ');
        store.add(config);
        return config;
    }
};

int stream(int rate, int seconds)
{
    Setup setup;
    const ServerConfig server
        = setup.add(u"flood"_s, { program(u"wl_bench_logpace"_s), QString::number(rate), QString::number(seconds) });
    LogsView view(*setup.servers, setup.store, *setup.manager, *setup.commands);
    view.resize(760, 480);
    view.show();
    waitFor([&] { return view.isVisible(); }, 5000);
    view.model().select(server.id);
    setup.manager->start(server);

    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    std::vector<double> gaps;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        gaps.push_back((now - last) / 1e6);
        last = now;
    });
    QTimer sampler;
    std::vector<double> rss;
    QObject::connect(&sampler, &QTimer::timeout, [&] { rss.push_back(rssMiB()); });
    const double cpuBefore = threadCpuSeconds();
    tick.start(4);
    sampler.start(5000);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = threadCpuSeconds() - cpuBefore;
    const double wall = clock.nsecsElapsed() / 1e9;
    tick.stop();
    sampler.stop();

    const quint64 lines = setup.manager->state(server.id).logs.lastSeq();
    std::vector<double> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    const int over16 = int(std::count_if(gaps.begin(), gaps.end(), [](double gap) { return gap > 16.0; }));
    std::printf("%d lines/s for %d s, log shown, auto-scroll on: %llu lines taken in (%.0f/s), %d px from the end\n",
        rate, seconds, static_cast<unsigned long long>(lines), lines / wall,
        view.logView()->contentHeight() - view.logView()->viewport()->height() - view.logView()->scrollOffset());
    std::printf("worst gap of a 4 ms timer %.1f ms, p99 %.1f ms, p50 %.1f ms, gaps over 16 ms: %d of %zu\n",
        sorted.back(), sorted[sorted.size() * 99 / 100], sorted[sorted.size() / 2], over16, sorted.size());
    std::printf("GUI main thread CPU: %.2f s in %.1f s = %.1f%% of one core\n", cpu, wall, 100.0 * cpu / wall);
    std::printf("RSS every 5 s (MiB):");
    for (const double value : rss)
        std::printf(" %.1f", value);
    std::printf("\n");
    return 0;
}

int open()
{
    Setup setup;
    QList<ServerConfig> servers;
    for (int i = 0; i < 10; ++i) {
        servers.append(
            setup.add(u"server %1"_s.arg(i + 1), { program(u"wl-test-child"_s), u"bulk:2100:80"_s, u"hold"_s }));
        setup.manager->start(servers.last());
    }
    if (!waitFor(
            [&] {
                for (const ServerConfig& server : servers) {
                    if (setup.manager->state(server.id).logs.size() < ServerManager::maxLogLines)
                        return false;
                }
                return true;
            },
            60000)) {
        std::fprintf(stderr, "bench_windows: the servers did not print their lines\n");
        return 1;
    }

    // Opening: construction, show, the log's first paint (the first server selected on show).
    std::vector<double> opens;
    for (int run = 0; run < 11; ++run) {
        PaintWatch watch;
        watch.reset();
        auto* view = new LogsView(*setup.servers, setup.store, *setup.manager, *setup.commands);
        view->logView()->viewport()->installEventFilter(&watch);
        view->resize(760, 480);
        // The last of the 2,000 lines in view, as the window shows after following.
        view->show();
        waitFor([&] { return watch.firstPaintMs >= 0; }, 5000);
        opens.push_back(watch.firstPaintMs);
        delete view;
        QCoreApplication::processEvents();
    }
    std::printf("open the log window on 10 servers x 2,000 lines, to the log's first paint: first %.1f ms, "
                "median of 10 more %.1f ms, worst %.1f ms\n",
        opens.front(), median({ opens.begin() + 1, opens.end() }), *std::max_element(opens.begin() + 1, opens.end()));

    // Switching servers, to the log's paint.
    LogsView view(*setup.servers, setup.store, *setup.manager, *setup.commands);
    view.resize(760, 480);
    view.show();
    waitFor([&] { return view.isVisible(); }, 5000);
    PaintWatch watch;
    view.logView()->viewport()->installEventFilter(&watch);
    std::vector<double> switches;
    for (int run = 0; run < 30; ++run) {
        watch.reset();
        view.model().select(servers.at((run + 1) % servers.size()).id);
        waitFor([&] { return watch.firstPaintMs >= 0; }, 5000);
        switches.push_back(watch.firstPaintMs);
    }
    std::printf("switch servers, to the log's paint: median %.1f ms, worst %.1f ms (30 switches)\n", median(switches),
        *std::max_element(switches.begin(), switches.end()));

    // Searching 2,000 lines.
    std::vector<double> searches;
    const QStringList queries { u"line 1999"_s, u"line"_s, u"nothing like this"_s, u"."_s, u"LINE 12"_s };
    int matches = 0;
    for (int run = 0; run < 20; ++run) {
        view.model().search().setQuery(QString());
        QElapsedTimer timer;
        timer.start();
        view.model().search().setQuery(queries.at(run % queries.size()));
        searches.push_back(timer.nsecsElapsed() / 1e6);
        matches = std::max(matches, view.model().search().count());
    }
    std::printf("search over 2,000 lines: median %.2f ms, worst %.2f ms (20 searches, up to %d matches)\n",
        median(searches), *std::max_element(searches.begin(), searches.end()), matches);
    std::printf("RSS with the window open: %.1f MiB\n", rssMiB());
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : u"open"_s;
    if (mode == u"stream"_s)
        return stream(argc > 2 ? atoi(argv[2]) : 10000, argc > 3 ? atoi(argv[3]) : 30);
    return open();
}
