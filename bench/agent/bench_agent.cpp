// bench_agent: what the remote agent adds between a server's output and a
// controller. A real wardlamp-relay on loopback, the agent on the main thread
// with a real ServerManager, and a controller on its own thread.
//
//   latency  lines spaced 0.5 s: p50 / p99 / max from the line's write in the
//            child to its arrival at the controller (targets: p50 <= 220 ms,
//            p99 <= 300 ms)
//   burst    lines every 50 ms: the worst latency (target <= 1.1 s)
//   cpu      main-thread CPU for 10,000 lines forwarded to a controller, less
//            the same run with remote access off (the agent's own share)
//
// Usage: bench_agent [LATENCY_LINES (200)] [BURST_LINES (200)] [CPU_LINES (10000)]

#include "agent/PairingStore.h"
#include "agent/RemoteAgent.h"
#include "platform/FileSecretStore.h"
#include "remotekit/PeerMessage.h"
#include "remotekit/RelayClient.h"
#include "remotekit/RemoteCrypto.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <time.h>
#include <vector>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

namespace {

qint64 realtimeNs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

bool waitUntil(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::usleep(200);
    }
    return true;
}

// The phone's side, on its own thread so that its work does not queue behind
// the agent's: records the latency of every stamped line it receives.
class Controller : public QObject {
public:
    Controller(QUrl relay, SecretBytes secret)
        : m_relay(std::move(relay))
        , m_secret(std::move(secret))
    {
    }

    void start()
    {
        m_key = RemoteCrypto::contentKey(m_secret);
        m_client = new RelayClient(m_relay, RemoteCrypto::roomId(m_secret), PeerRole::controller, this);
        connect(m_client, &RelayClient::relayEvent, this, [this](const RelayClient::Event& event) {
            if (event.kind == RelayClient::Event::Kind::connected)
                connected = true;
            if (event.kind != RelayClient::Event::Kind::envelope || !event.envelope || !event.envelope->payload)
                return;
            const qint64 now = realtimeNs();
            const auto opened = PeerMessage::opened(*event.envelope->payload, *m_key);
            if (!opened || opened->type != PeerMessage::MessageType::logAppend || !opened->lines)
                return;
            std::lock_guard lock(mutex);
            for (const WireLogLine& line : *opened->lines) {
                const QStringList parts = line.text.split(u' ');
                if (parts.size() != 3 || parts[0] != u"stamp"_s)
                    continue;
                latenciesMs.push_back(double(now - parts[1].toLongLong()) / 1e6);
            }
            received = int(latenciesMs.size());
        });
        m_client->connectToRelay();
    }

    void stop()
    {
        delete m_client;
        m_client = nullptr;
    }

    void reset()
    {
        std::lock_guard lock(mutex);
        latenciesMs.clear();
        received = 0;
    }

    std::atomic<bool> connected { false };
    std::atomic<int> received { 0 };
    std::mutex mutex;
    std::vector<double> latenciesMs;

private:
    QUrl m_relay;
    SecretBytes m_secret;
    std::optional<ContentKey> m_key;
    RelayClient* m_client = nullptr;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

struct Rig {
    explicit Rig(const QString& dir)
        : settings(dir + u"/settings.conf"_s, QSettings::IniFormat)
        , secrets(dir + u"/secrets"_s)
        , store(settings, QProcessEnvironment())
        , manager([] {
            ServerManagerOptions options;
            options.loginShell = u"/bin/bash"_s;
            return options;
        }())
        , pairing(settings, QProcessEnvironment(), secrets)
    {
    }
    QSettings settings;
    FileSecretStore secrets;
    ServerStore store;
    ServerManager manager;
    PairingStore pairing;
};

ServerConfig stamper(const QString& program, int count, int intervalMs)
{
    ServerConfig config;
    config.id = QUuid::createUuid();
    config.name = u"stamper"_s;
    config.command = program + u" %1 %2"_s.arg(count).arg(intervalMs);
    return config;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int latencyLines = args.size() > 1 ? args[1].toInt() : 200;
    const int burstLines = args.size() > 2 ? args[2].toInt() : 200;
    const int cpuLines = args.size() > 3 ? args[3].toInt() : 10000;
    const QString bin = QCoreApplication::applicationDirPath();
    const QString stamperProgram = bin + u"/wl_bench_stamper"_s;

    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    QProcess relay;
    relay.start(bin + u"/wardlamp-relay"_s, { u"--listen"_s, u"127.0.0.1:%1"_s.arg(port) });
    if (!relay.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench_agent: the relay did not start\n");
        return 1;
    }
    const QUrl relayUrl(u"ws://127.0.0.1:%1"_s.arg(port));

    QTemporaryDir dir;
    Rig rig(dir.path());
    RemoteAgent agent(relayUrl);
    rig.pairing.setEnabled(true);
    agent.configure(rig.store, rig.manager, rig.pairing);
    if (!waitUntil([&] { return agent.state() == ConnectionState::online(); }, 10000)) {
        std::fprintf(stderr, "bench_agent: the agent did not come online\n");
        return 1;
    }

    QThread controllerThread;
    controllerThread.start();
    Controller controller(relayUrl, *rig.pairing.secret());
    controller.moveToThread(&controllerThread);
    QMetaObject::invokeMethod(&controller, [&controller] { controller.start(); });
    if (!waitUntil([&] { return controller.connected.load() && agent.controllerCount() == 1; }, 10000)) {
        std::fprintf(stderr, "bench_agent: the controller did not join\n");
        return 1;
    }

    auto runLines = [&](int count, int intervalMs) -> bool {
        controller.reset();
        const ServerConfig config = stamper(stamperProgram, count, intervalMs);
        rig.store.setServers({ config });
        rig.manager.start(config);
        const int budget = count * intervalMs + 30000;
        const bool complete = waitUntil([&] { return controller.received.load() >= count; }, budget);
        rig.manager.stop(config);
        return complete;
    };

    std::printf("bench_agent: loopback relay, lines through ServerManager -> RemoteAgent -> relay -> controller\n");
    if (runLines(latencyLines, 500)) {
        std::lock_guard lock(controller.mutex);
        std::printf("latency  %5d lines every 500 ms: p50 %7.1f ms   p99 %7.1f ms   max %7.1f ms  "
                    "(targets p50 <= 220, p99 <= 300)\n",
            latencyLines, percentile(controller.latenciesMs, 0.50), percentile(controller.latenciesMs, 0.99),
            percentile(controller.latenciesMs, 1.0));
    } else {
        std::printf("latency: only %d of %d lines arrived\n", controller.received.load(), latencyLines);
    }
    if (runLines(burstLines, 50)) {
        std::lock_guard lock(controller.mutex);
        std::printf(
            "burst    %5d lines every  50 ms: p50 %7.1f ms   p99 %7.1f ms   max %7.1f ms  (target max <= 1100)\n",
            burstLines, percentile(controller.latenciesMs, 0.50), percentile(controller.latenciesMs, 0.99),
            percentile(controller.latenciesMs, 1.0));
    } else {
        std::printf("burst: only %d of %d lines arrived\n", controller.received.load(), burstLines);
    }

    // CPU: the same 10,000 lines with a controller present, then with remote
    // access off; the difference is what forwarding costs the main thread.
    const double withStart = threadCpuMs();
    const bool forwarded = runLines(cpuLines, 0);
    const double withAgent = threadCpuMs() - withStart;
    const int forwardedCount = controller.received.load();

    rig.pairing.setEnabled(false);
    const ServerConfig baseline = stamper(stamperProgram, cpuLines, 0);
    rig.store.setServers({ baseline });
    const double withoutStart = threadCpuMs();
    rig.manager.start(baseline);
    waitUntil([&] { return rig.manager.state(baseline.id).logs.lastSeq() >= quint64(cpuLines) + 1; }, 60000);
    const double withoutAgent = threadCpuMs() - withoutStart;
    rig.manager.stop(baseline);

    std::printf("cpu      %5d lines (%s): main thread %.1f ms with a controller, %.1f ms with remote access off;"
                " agent share %.1f ms per 10,000 lines\n",
        cpuLines, forwarded ? "all forwarded" : qPrintable(u"%1 forwarded"_s.arg(forwardedCount)), withAgent,
        withoutAgent, (withAgent - withoutAgent) * 10000.0 / std::max(cpuLines, 1));

    QMetaObject::invokeMethod(
        &controller, [&controller] { controller.stop(); }, Qt::BlockingQueuedConnection);
    controllerThread.quit();
    controllerThread.wait();
    rig.manager.shutdown(std::chrono::milliseconds(500));
    waitUntil([&] { return !rig.manager.anyProcessAlive(); }, 5000);
    relay.terminate();
    relay.waitForFinished(5000);
    return 0;
}
