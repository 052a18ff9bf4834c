// bench_supervision: the ServerManager side of the supervision benchmarks.
// Runs the real manager in a QCoreApplication and prints one line of
// key=value figures; bench/supervision/run.sh runs it beside the other tools.
//
//   bench_supervision ingest --command CMD --lines N [--t0-file PATH] [--timeout-ms T]
//       Starts a server whose command is CMD (a log generator writing N lines
//       "seq NNNNNNN ..."), counts the captured generator lines through the
//       per-batch tap (by their sequence numbers), and stops the clock when the
//       manager has published the batch holding the N-th line (linesAppended). Prints the time from the
//       generator's own start (its --t0-file) and from start(), the number of
//       linesAppended/linesCaptured emissions, the CPU time the whole process
//       (main and I/O threads) spent meanwhile, and checks the kept log: the last
//       2000 lines must be the generator's last 2000, in order.
//
//   bench_supervision stop --tree PATH [--ignore-term] [--orphan]
//       Starts wl_bench_tree (a server with five descendants, one of them in a
//       session of its own), waits until every member runs, calls stop(), and
//       times the exit of every member through pidfds polled on a thread of
//       their own. Afterwards it scans /proc for any member still there.
//
//   bench_supervision portrecovery --node PATH
//       A stray Node server holds a free port; the manager starts a real Node
//       server on the same port, which fails with EADDRINUSE. Times the port
//       recovery from the moment the manager captured the EADDRINUSE line to
//       the first HTTP answer of the restarted server (a client polls the
//       port every 2 ms and tells the two servers apart by their answers).
//
// All print "ok=1" when every check held.

#include "platform/SockDiagListenerScanner.h"
#include "supervision/ErrorAlertService.h"
#include "supervision/LineBatch.h"
#include "supervision/ServerConfig.h"
#include "supervision/ServerManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;
using namespace Wardlamp;

namespace {

using SteadyClock = std::chrono::steady_clock;

long long realtimeMicros()
{
    timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
}

// User + system time of this whole process (every thread), in microseconds.
long long processCpuMicros()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (static_cast<long long>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec
        + usage.ru_stime.tv_usec;
}

// CPU time of every thread of this process, in microseconds, keyed by thread
// id, with the thread's name. Read through the per-thread CPU clock (the clock
// id the kernel derives from a thread id, as pthread_getcpuclockid does), which
// has nanosecond resolution, unlike the tick counts in /proc.
struct ThreadCpu {
    pid_t tid = 0;
    QByteArray name;
    long long micros = 0;
};

std::vector<ThreadCpu> threadCpuTimes()
{
    std::vector<ThreadCpu> threads;
    const QDir tasks(u"/proc/self/task"_s);
    for (const QString& entry : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        ThreadCpu thread;
        thread.tid = entry.toInt();
        QFile comm(tasks.filePath(entry) + u"/comm"_s);
        if (comm.open(QIODevice::ReadOnly))
            thread.name = comm.readAll().trimmed();
        const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(thread.tid) << 3) | 6u);
        timespec ts {};
        if (clock_gettime(clock, &ts) != 0)
            continue;
        thread.micros = static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
        threads.push_back(thread);
    }
    return threads;
}

// "name:ms,name:ms" of what each thread spent between two readings. A thread
// that kept the process's name is a plain std::thread: here that is the
// manager's output thread, shown as "io".
QByteArray threadCpuDelta(const std::vector<ThreadCpu>& before, const std::vector<ThreadCpu>& after)
{
    QByteArray mainName;
    for (const ThreadCpu& thread : after) {
        if (thread.tid == ::getpid())
            mainName = thread.name;
    }
    QByteArray text;
    for (const ThreadCpu& thread : after) {
        long long base = 0;
        for (const ThreadCpu& old : before) {
            if (old.tid == thread.tid)
                base = old.micros;
        }
        const long long spent = thread.micros - base;
        if (spent < 100)
            continue;
        if (!text.isEmpty())
            text += ',';
        QByteArray name = thread.name;
        name.replace(' ', '_');
        if (thread.tid == ::getpid())
            name = "main";
        else if (name == mainName)
            name = "io";
        text += name + ':' + QByteArray::number(spent / 1000.0, 'f', 1);
    }
    return text;
}

long long micros(SteadyClock::duration d)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

QString argValue(const QStringList& args, const QString& name, const QString& fallback = {})
{
    const auto index = args.indexOf(name);
    return index >= 0 && index + 1 < args.size() ? args.at(index + 1) : fallback;
}

ServerManager::Options managerOptions()
{
    // Alerts as the programs raise them (a line on stderr, debounced).
    static ErrorAlertService alerts;
    ServerManager::Options options;
    options.loginShell = qEnvironmentVariable("SHELL", u"/bin/sh"_s);
    options.alertService = &alerts;
    return options;
}

ServerConfig benchServer(const QString& command)
{
    ServerConfig config;
    config.id = QUuid::createUuid();
    config.name = u"bench"_s;
    config.command = command;
    return config;
}

// Ends the event loop once the manager has no process left (or after `limit`).
void shutDown(ServerManager& manager, std::chrono::milliseconds grace, int limitMs)
{
    QEventLoop loop;
    QObject::connect(&manager, &ServerManager::shutdownFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    manager.shutdown(grace);
    loop.exec();
}

// ---------------------------------------------------------------------------
// ingest

int runIngest(const QStringList& args)
{
    const QString command = argValue(args, u"--command"_s);
    const qint64 lines = argValue(args, u"--lines"_s, u"1000000"_s).toLongLong();
    const QString t0File = argValue(args, u"--t0-file"_s);
    const int timeoutMs = argValue(args, u"--timeout-ms"_s, u"300000"_s).toInt();
    if (command.isEmpty() || lines <= 0) {
        std::fprintf(stderr, "usage: bench_supervision ingest --command CMD --lines N [--t0-file PATH]\n");
        return 2;
    }

    ServerManager manager(managerOptions());
    const ServerConfig config = benchServer(command);

    qint64 generatorLines = 0; // captured lines that came from the generator
    qint64 capturedEmissions = 0;
    qint64 appendedEmissions = 0;
    qint64 stateEmissions = 0;
    quint64 lastSeqOfGenerator = 0;
    std::optional<SteadyClock::time_point> doneAt;
    long long doneRealtime = 0;
    long long doneCpu = 0;
    std::vector<ThreadCpu> threadsAtDone;
    bool reachedThisBatch = false;

    // The tap: every appended line, once per batch. The observer must cost the
    // manager next to nothing, so it does not visit every line: it finds the
    // generator's first line ("seq 0000000") once, then looks only at the last
    // few lines of each batch (an exit line may follow the output). Every
    // appended line takes the next sequence number, so
    // seq(last) - seq(first) + 1 is the number of lines between them, and a
    // line lost or doubled anywhere shows as a count other than N.
    const QByteArray lastText = QByteArray("seq ") + QByteArray::number(lines - 1).rightJustified(7, '0');
    std::optional<quint64> firstSeqOfGenerator;
    qint64 tappedLines = 0;
    const auto isGeneratorLine = [](const CapturedLine& line) {
        return line.text.size() >= 4 && std::memcmp(line.text.data(), "seq ", 4) == 0;
    };
    QObject::connect(
        &manager, &ServerManager::linesCaptured, &manager,
        [&](const QUuid& id, const LineBatch& batch) {
            if (id != config.id)
                return;
            ++capturedEmissions;
            tappedLines += qint64(batch.lines.size());
            if (!firstSeqOfGenerator) {
                for (const CapturedLine& line : batch.lines) {
                    if (isGeneratorLine(line)) {
                        firstSeqOfGenerator = line.seq;
                        break;
                    }
                }
            }
            const size_t tail = std::min<size_t>(batch.lines.size(), 4);
            for (size_t i = batch.lines.size(); i > batch.lines.size() - tail; --i) {
                const CapturedLine& line = batch.lines[i - 1];
                if (!isGeneratorLine(line))
                    continue;
                lastSeqOfGenerator = line.seq;
                if (firstSeqOfGenerator)
                    generatorLines = qint64(lastSeqOfGenerator - *firstSeqOfGenerator + 1);
                if (line.text.startsWith(QByteArrayView(lastText)) && !doneAt)
                    reachedThisBatch = true;
                break;
            }
        },
        Qt::DirectConnection);

    QEventLoop loop;
    QObject::connect(
        &manager, &ServerManager::linesAppended, &manager, [&](const QUuid& id, quint64 firstSeq, int count) {
            if (id != config.id)
                return;
            ++appendedEmissions;
            // The batch holding the last line has now reached every observer.
            if (reachedThisBatch && !doneAt && firstSeq + quint64(count) - 1 >= lastSeqOfGenerator) {
                doneAt = SteadyClock::now();
                doneRealtime = realtimeMicros();
                doneCpu = processCpuMicros();
                threadsAtDone = threadCpuTimes();
                loop.quit();
            }
        });
    QObject::connect(&manager, &ServerManager::stateChanged, &manager, [&](const QUuid& id) {
        if (id == config.id)
            ++stateEmissions;
    });
    QObject::connect(&manager, &ServerManager::allProcessesExited, &loop, [&] {
        // Give output still queued for the main thread one more turn before giving up.
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);

    const long long cpuAtStart = processCpuMicros();
    const std::vector<ThreadCpu> threadsAtStart = threadCpuTimes();
    const auto startedAt = SteadyClock::now();
    manager.start(config);
    loop.exec();

    long long fromT0 = -1;
    if (doneAt && !t0File.isEmpty()) {
        QFile f(t0File);
        if (f.open(QIODevice::ReadOnly))
            fromT0 = doneRealtime - f.readAll().trimmed().toLongLong();
    }
    const long long fromStart = doneAt ? micros(*doneAt - startedAt) : -1;

    // The kept log must end with the generator's last lines, consecutive and in order.
    const ServerRuntimeState& state = manager.state(config.id);
    int keptGenerator = 0;
    bool keptInOrder = true;
    qint64 expected = -1;
    for (const LogLine& line : state.logs) {
        if (!line.text.startsWith(u"seq "_s))
            continue;
        const qint64 index = QStringView(line.text).mid(4, 7).toLongLong();
        if (expected >= 0 && index != expected)
            keptInOrder = false;
        expected = index + 1;
        ++keptGenerator;
    }
    const bool lastIsLast = expected == lines;
    // A status line or two (the exit) may already share the log with them.
    const bool ok = doneAt && generatorLines == lines && keptInOrder && lastIsLast
        && keptGenerator >= std::min<qint64>(lines, ServerManager::maxLogLines) - 2;

    std::printf("from_t0_us=%lld from_start_us=%lld cpu_us=%lld lines=%lld tapped=%lld signals=%lld "
                "captured_signals=%lld state_signals=%lld kept=%d "
                "kept_generator=%d kept_in_order=%d last_is_last=%d ok=%d thread_cpu_ms=%s\n",
        fromT0, fromStart, doneAt ? doneCpu - cpuAtStart : -1, static_cast<long long>(generatorLines),
        static_cast<long long>(tappedLines), static_cast<long long>(appendedEmissions),
        static_cast<long long>(capturedEmissions), static_cast<long long>(stateEmissions), state.logs.size(),
        keptGenerator, keptInOrder ? 1 : 0, lastIsLast ? 1 : 0, ok ? 1 : 0,
        threadCpuDelta(threadsAtStart, threadsAtDone).constData());
    std::fflush(stdout);

    shutDown(manager, std::chrono::milliseconds(500), 10000);
    return ok ? 0 : 1;
}

// ---------------------------------------------------------------------------
// stop

struct Member {
    QString role;
    pid_t pid = 0;
    int pidfd = -1;
    std::atomic<long long> goneAfterUs { -1 }; // after stop(), by its pidfd
};

int pidfdOpen(pid_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// Processes (not zombies) whose command line holds the tag.
std::vector<pid_t> tagHolders(const QByteArray& tag)
{
    std::vector<pid_t> found;
    const QDir proc(u"/proc"_s);
    for (const QString& name : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const pid_t pid = name.toInt(&numeric);
        if (!numeric || pid == ::getpid())
            continue;
        QFile cmdline(u"/proc/"_s + name + u"/cmdline"_s);
        if (!cmdline.open(QIODevice::ReadOnly) || !cmdline.readAll().contains(tag))
            continue;
        QFile stat(u"/proc/"_s + name + u"/stat"_s);
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray text = stat.readAll();
            const auto close = text.lastIndexOf(')');
            if (close > 0 && close + 2 < text.size() && text.at(close + 2) == 'Z')
                continue;
        }
        found.push_back(pid);
    }
    return found;
}

int runStop(const QStringList& args)
{
    const QString tree = argValue(args, u"--tree"_s);
    if (tree.isEmpty()) {
        std::fprintf(stderr, "usage: bench_supervision stop --tree PATH [--ignore-term] [--orphan]\n");
        return 2;
    }
    const QString tag = u"wl-bench-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QString command = tree + u" --tag "_s + tag;
    if (args.contains(u"--ignore-term"_s))
        command += u" --ignore-term"_s;
    if (args.contains(u"--orphan"_s))
        command += u" --orphan"_s;

    ServerManager manager(managerOptions());
    const ServerConfig config = benchServer(command);

    std::vector<std::unique_ptr<Member>> members;
    int readyCount = -1;
    QEventLoop loop;
    QObject::connect(
        &manager, &ServerManager::linesCaptured, &manager,
        [&](const QUuid& id, const LineBatch& batch) {
            if (id != config.id)
                return;
            for (const CapturedLine& line : batch.lines) {
                const QList<QByteArray> words = line.text.toByteArray().split(' ');
                if (words.size() == 3 && words.at(0) == "tree-member") {
                    auto member = std::make_unique<Member>();
                    member->role = QString::fromLatin1(words.at(1));
                    member->pid = words.at(2).toInt();
                    members.push_back(std::move(member));
                } else if (words.size() == 2 && words.at(0) == "tree-ready") {
                    readyCount = words.at(1).toInt();
                    loop.quit();
                }
            }
        },
        Qt::DirectConnection);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    manager.start(config);
    loop.exec();

    if (readyCount < 0 || !manager.state(config.id).pid) {
        std::fprintf(stderr, "bench_supervision: the process tree did not come up\n");
        shutDown(manager, std::chrono::milliseconds(500), 10000);
        return 1;
    }
    auto server = std::make_unique<Member>();
    server->role = u"server"_s;
    server->pid = *manager.state(config.id).pid;
    members.push_back(std::move(server));
    for (auto& member : members)
        member->pidfd = pidfdOpen(member->pid);

    // One thread waits on every pidfd and notes when each process exits; the
    // main thread keeps running the manager's event loop meanwhile.
    const auto waitLimit = ServerManager::stopGracePeriod + std::chrono::milliseconds(5000);
    std::atomic<bool> watching { true };
    const auto stopAt = SteadyClock::now();
    std::thread watcher([&] {
        while (watching) {
            std::vector<pollfd> fds;
            std::vector<Member*> waiting;
            for (auto& member : members) {
                if (member->goneAfterUs.load() >= 0)
                    continue;
                if (member->pidfd < 0) {
                    member->goneAfterUs = 0; // already gone when the stop began
                    continue;
                }
                fds.push_back({ member->pidfd, POLLIN, 0 });
                waiting.push_back(member.get());
            }
            if (fds.empty())
                break;
            if (::poll(fds.data(), fds.size(), 20) > 0) {
                const long long after = micros(SteadyClock::now() - stopAt);
                for (size_t i = 0; i < fds.size(); ++i) {
                    if (fds[i].revents)
                        waiting[i]->goneAfterUs = after;
                }
            }
            if (SteadyClock::now() - stopAt > waitLimit)
                break;
        }
    });

    manager.stop(config);
    QEventLoop waitLoop;
    QTimer poller;
    poller.setInterval(5);
    QObject::connect(&poller, &QTimer::timeout, &waitLoop, [&] {
        const bool allGone
            = std::all_of(members.begin(), members.end(), [](const auto& m) { return m->goneAfterUs.load() >= 0; });
        if ((allGone && !manager.anyProcessAlive()) || SteadyClock::now() - stopAt > waitLimit)
            waitLoop.quit();
    });
    poller.start();
    waitLoop.exec();
    watching = false;
    watcher.join();

    // Let the manager reap what it adopted, then look for anything that survived.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    const std::vector<pid_t> left = tagHolders(tag.toLatin1());

    long long last = 0;
    bool allGone = true;
    QString detail;
    for (const auto& member : members) {
        const long long gone = member->goneAfterUs.load();
        if (gone < 0)
            allGone = false;
        last = std::max(last, gone);
        detail
            += member->role + u'=' + (gone < 0 ? u"alive"_s : QString::number(gone / 1000.0, 'f', 1) + u"ms"_s) + u' ';
        if (member->pidfd >= 0)
            ::close(member->pidfd);
    }
    std::printf("members=%d last_gone_us=%s left=%zu ok=%d %s\n", static_cast<int>(members.size()),
        allGone ? QByteArray::number(last).constData() : "-", left.size(), allGone && left.empty() ? 1 : 0,
        detail.trimmed().toUtf8().constData());
    std::fflush(stdout);

    // Whatever survived is ours: end it so that no benchmark leaves processes behind.
    for (const pid_t pid : left)
        ::kill(pid, SIGKILL);
    shutDown(manager, std::chrono::milliseconds(500), 10000);
    return allGone && left.empty() ? 0 : 1;
}

// ---------------------------------------------------------------------------
// port recovery

// A free TCP port on the loopback address, or 0.
quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// One HTTP GET to 127.0.0.1:port; the answer's bytes, empty when nobody answered.
QByteArray httpGet(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    timeval timeout { 0, 200000 };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const char request[] = "GET / HTTP/1.0\r\nHost: localhost\r\n\r\n";
        if (::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) > 0) {
            char buffer[4096];
            ssize_t got;
            while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                answer.append(buffer, got);
        }
    }
    ::close(fd);
    return answer;
}

QString nodeServer(const QString& node, quint16 port, const char* answer)
{
    const QString script
        = u"require('http').createServer((q, r) => r.end('%1')).listen(%2)"_s.arg(QString::fromLatin1(answer))
              .arg(port);
    return u"'"_s + node + u"' -e \""_s + script + u"\""_s;
}

int runPortRecovery(const QStringList& args)
{
    const QString node = argValue(args, u"--node"_s, u"node"_s);
    const quint16 port = freePort();
    if (port == 0) {
        std::fprintf(stderr, "bench_supervision: no free port\n");
        return 1;
    }
    QProcess holder;
    holder.start(u"/bin/sh"_s, { u"-c"_s, u"exec "_s + nodeServer(node, port, "holder") });
    const auto holderUp = SteadyClock::now();
    while (!httpGet(port).endsWith("holder")) {
        if (SteadyClock::now() - holderUp > std::chrono::seconds(10)) {
            std::fprintf(stderr, "bench_supervision: the holder did not answer\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    ServerManager::Options options = managerOptions();
    options.listenerScanner = std::make_shared<SockDiagListenerScanner>();
    ServerManager manager(options);
    const ServerConfig config = benchServer(nodeServer(node, port, "server"));

    // The client polls from the EADDRINUSE line on, on a thread of its own.
    std::atomic<long long> busyAtUs { -1 };
    std::atomic<long long> answeredAtUs { -1 };
    const auto origin = SteadyClock::now();
    std::atomic<bool> polling { true };
    std::thread client([&] {
        while (polling && busyAtUs.load() < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        while (polling) {
            if (httpGet(port).endsWith("server")) {
                answeredAtUs = micros(SteadyClock::now() - origin);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    QObject::connect(
        &manager, &ServerManager::linesCaptured, &manager,
        [&](const QUuid&, const LineBatch& batch) {
            for (const CapturedLine& line : batch.lines) {
                if (busyAtUs.load() < 0 && line.text.contains("EADDRINUSE"))
                    busyAtUs = micros(SteadyClock::now() - origin);
            }
        },
        Qt::DirectConnection);
    QEventLoop loop;
    QTimer poller;
    poller.setInterval(5);
    QObject::connect(&poller, &QTimer::timeout, &loop, [&] {
        if (answeredAtUs.load() >= 0 || SteadyClock::now() - origin > std::chrono::seconds(20))
            loop.quit();
    });
    poller.start();
    manager.start(config);
    loop.exec();
    polling = false;
    client.join();

    const long long busy = busyAtUs.load();
    const long long answered = answeredAtUs.load();
    const bool ok = busy >= 0 && answered >= 0;
    std::printf("recovery_us=%s from_start_us=%s ok=%d\n", ok ? QByteArray::number(answered - busy).constData() : "-",
        answered >= 0 ? QByteArray::number(answered).constData() : "-", ok ? 1 : 0);
    std::fflush(stdout);
    shutDown(manager, std::chrono::milliseconds(500), 10000);
    if (holder.state() != QProcess::NotRunning) {
        holder.kill();
        holder.waitForFinished(5000);
    }
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // As the programs' object graph does: quiet pipes are left to waiters.
    ServerManager::installPipeWakeSignal();
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == u"ingest"_s)
        return runIngest(args);
    if (mode == u"stop"_s)
        return runStop(args);
    if (mode == u"portrecovery"_s)
        return runPortRecovery(args);
    std::fprintf(stderr, "usage: bench_supervision ingest|stop|portrecovery ...\n");
    return 2;
}
