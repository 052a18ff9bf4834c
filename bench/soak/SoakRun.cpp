#include "SoakRun.h"

#include "remotekit/RemoteCrypto.h"
#include "remotekit/WireEnums.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>

#include <algorithm>
#include <cstdio>

namespace Wardlamp::Soak {

using namespace Qt::StringLiterals;

namespace {

// What the agent sends a controller that joins: the recent lines of each server.
constexpr int backlogLines = 500;
constexpr int controllerCount = 2;
constexpr int warmUpLimitMs = 90'000;
// After the last kill: how long the last recovery may take before the soak ends anyway.
constexpr int settleLimitMs = 30'000;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString ms(const std::optional<qint64>& value)
{
    return value ? QString::number(*value) : u"never"_s;
}

} // namespace

SoakRun::SoakRun(Settings settings, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_random(m_settings.seed)
{
    m_tick.setInterval(50);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        if (!m_running) {
            warmUp();
            return;
        }
        if (m_nextKill < m_killAt.size()) {
            if (m_relayUp && m_clock.elapsed() >= m_killAt[m_nextKill])
                killRelay();
            return;
        }
        if (m_finishing)
            return;
        const bool settled = m_relayUp && std::all_of(m_controllers.begin(), m_controllers.end(), [](const auto& c) {
            return c->recoveries().empty() || c->recoveries().back().linesMs.has_value();
        });
        const qint64 sinceLastKill = m_killAt.empty() ? 0 : m_clock.elapsed() - m_killAt.back();
        if ((settled && m_clock.elapsed() >= qint64(m_settings.seconds) * 1000) || sinceLastKill > settleLimitMs)
            finishSoon();
    });
    m_commands.setInterval(m_settings.commandEveryMs);
    connect(&m_commands, &QTimer::timeout, this, &SoakRun::sendCommand);
    connect(&m_relay, &QProcess::readyReadStandardOutput, this, &SoakRun::relayOutput);
    connect(&m_relay, &QProcess::finished, this, [this] {
        // A port still held by the killed relay for a moment: try again.
        if (!m_relayUp && !m_finishing)
            QTimer::singleShot(50, this, [this] { startRelay(m_port); });
    });
}

SoakRun::~SoakRun()
{
    m_finishing = true;
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(20000))
            m_daemon.kill();
    }
    if (m_relay.state() != QProcess::NotRunning) {
        m_relay.kill();
        m_relay.waitForFinished(5000);
    }
}

void SoakRun::fail(const QString& why)
{
    std::fprintf(stderr, "soak: %s\n", qPrintable(why));
    QFile err(m_settings.scratchDir + u"/daemon.err"_s);
    if (err.open(QIODevice::ReadOnly))
        std::fprintf(stderr, "wardlampd said:\n%s\n", err.readAll().right(4000).constData());
    QCoreApplication::exit(2);
}

void SoakRun::begin()
{
    m_secret = *RemoteCrypto::randomSecret(32);
    QJsonArray servers;
    const int rate = m_settings.linesPerSecond / m_settings.servers;
    for (int i = 0; i < m_settings.servers; ++i) {
        Server server { QUuid::createUuid(), u"s%1"_s.arg(i + 1) };
        servers.append(QJsonObject {
            { u"id"_s, server.id.toString(QUuid::WithoutBraces).toUpper() },
            { u"name"_s, server.name },
            { u"command"_s,
                u"%1/wl_soak_printer %2 %3 %4/starts"_s.arg(m_settings.binDir, server.name)
                    .arg(rate)
                    .arg(m_settings.scratchDir) },
            { u"autostart"_s, true },
            { u"errorAlertEnabled"_s, false },
        });
        m_servers.push_back(server);
    }

    if (!startRelay(0))
        return fail(u"wardlamp-relay did not start"_s);
    // The first start waits here: the port is chosen by the relay and everything else needs it.
    while (!m_relayUp) {
        if (!m_relay.waitForReadyRead(10000))
            return fail(u"wardlamp-relay did not say where it listens"_s);
        relayOutput();
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"SHELL"_s, u"/bin/bash"_s);
    env.insert(u"WL_SEED_SERVERS"_s, QString::fromUtf8(QJsonDocument(servers).toJson(QJsonDocument::Compact)));
    env.insert(u"WL_REMOTE_ENABLED"_s, u"1"_s);
    env.insert(u"WL_REMOTE_SECRET"_s, QString::fromLatin1(m_secret.revealBytes().toHex()));
    env.insert(u"WL_REMOTE_MACNAME"_s, u"soak"_s);
    env.insert(u"WL_RELAY_URL"_s, u"ws://127.0.0.1:%1"_s.arg(m_port));
    m_daemon.setProcessEnvironment(env);
    m_daemon.setProgram(m_settings.binDir + u"/wardlampd"_s);
    m_daemon.setStandardOutputFile(QProcess::nullDevice());
    m_daemon.setStandardErrorFile(m_settings.scratchDir + u"/daemon.err"_s);
    m_daemon.start();
    if (!m_daemon.waitForStarted(10000))
        return fail(u"wardlampd did not start"_s);
    connect(&m_daemon, &QProcess::finished, this, [this] {
        if (!m_finishing)
            fail(u"wardlampd ended during the soak"_s);
    });

    const QUrl relayUrl(u"ws://127.0.0.1:%1"_s.arg(m_port));
    for (int i = 0; i < controllerCount; ++i) {
        m_controllers.push_back(std::make_unique<SoakController>(relayUrl, m_secret, backlogLines));
        m_controllers.back()->start();
    }
    m_clock.start();
    m_tick.start();
}

bool SoakRun::startRelay(quint16 port)
{
    m_relayBuffer.clear();
    m_relay.setProgram(m_settings.binDir + u"/wardlamp-relay"_s);
    m_relay.setArguments({ u"--listen"_s, u"127.0.0.1:%1"_s.arg(port) });
    m_relay.setStandardErrorFile(QProcess::nullDevice());
    m_relay.start();
    return m_relay.waitForStarted(10000);
}

void SoakRun::relayOutput()
{
    m_relayBuffer += m_relay.readAllStandardOutput();
    if (m_relayUp || !m_relayBuffer.contains('\n'))
        return;
    const QByteArray line = m_relayBuffer.left(m_relayBuffer.indexOf('\n')).trimmed();
    if (!line.startsWith("listening on "))
        return;
    const qint64 up = nowMs();
    m_port = line.mid(line.lastIndexOf(':') + 1).toUShort();
    m_relayUp = true;
    if (m_killedAtMs == 0)
        return; // the first start
    m_downMs.push_back(up - m_killedAtMs);
    for (const auto& controller : m_controllers)
        controller->relayBack(up);
}

void SoakRun::warmUp()
{
    const bool ready = std::all_of(m_controllers.begin(), m_controllers.end(),
        [this](const auto& c) { return c->serversSeen() == m_settings.servers; });
    if (!ready) {
        if (m_clock.elapsed() > warmUpLimitMs)
            fail(u"the controllers were not shown lines of every server within 90 s"_s);
        return;
    }
    // Random moments, one in each equal slot of the run, at least `spacing`
    // before the slot ends, so that every recovery can be timed on its own.
    const qint64 slot = qint64(m_settings.seconds) * 1000 / std::max(1, m_settings.kills);
    const qint64 spacing = std::min<qint64>(6000, slot / 2);
    for (int i = 0; i < m_settings.kills; ++i)
        m_killAt.push_back(i * slot + qint64(m_random.bounded(quint32(std::max<qint64>(1, slot - spacing)))));
    std::printf("warm-up: every server's lines reached both controllers after %lld ms\n", qlonglong(m_clock.elapsed()));
    std::fflush(stdout);
    m_running = true;
    m_clock.restart();
    m_commands.start();
}

void SoakRun::killRelay()
{
    ++m_nextKill;
    m_relay.kill(); // SIGKILL
    m_relay.waitForFinished(5000);
    // Only now: the end of the killed relay is no failed start to retry.
    m_relayUp = false;
    m_killedAtMs = nowMs();
    startRelay(m_port);
}

void SoakRun::sendCommand()
{
    SoakController& controller = *m_controllers[size_t(m_turn++ % controllerCount)];
    if (!controller.isOpen())
        return;
    Server& server = m_servers[m_random.bounded(quint32(m_servers.size()))];
    if (m_random.bounded(2) == 0) {
        ++server.restartsSent;
        controller.send(PeerMessage::command(server.id, CommandAction::restart));
    } else {
        ++server.clearsSent;
        for (const auto& c : m_controllers)
            c->ledger().noteClear(server.name);
        controller.send(PeerMessage::command(server.id, CommandAction::clearLogs));
    }
}

void SoakRun::finishSoon()
{
    m_finishing = true;
    m_commands.stop();
    // Lines and acknowledgements still on their way.
    QTimer::singleShot(3000, this, &SoakRun::report);
}

QHash<QString, int> SoakRun::startsByServer() const
{
    QHash<QString, int> starts;
    QFile file(m_settings.scratchDir + u"/starts"_s);
    if (!file.open(QIODevice::ReadOnly))
        return starts;
    while (!file.atEnd()) {
        const QList<QByteArray> words = file.readLine().trimmed().split(' ');
        if (words.size() == 2)
            ++starts[QString::fromUtf8(words[0])];
    }
    return starts;
}

void SoakRun::report()
{
    m_tick.stop();
    for (const auto& controller : m_controllers)
        controller->ledger().finish();

    // Commands run twice, on the supervisor's side: each start of a printer
    // beyond its first needs a restart that was sent.
    const QHash<QString, int> starts = startsByServer();
    int ranTwice = 0;
    int restarts = 0;
    int clears = 0;
    for (const Server& server : m_servers) {
        restarts += server.restartsSent;
        clears += server.clearsSent;
        ranTwice += std::max(0, starts.value(server.name) - 1 - server.restartsSent);
    }
    // And on the controllers' side: no more acknowledgements than commands sent.
    int ackedTwice = 0;
    for (const auto& controller : m_controllers) {
        for (const Server& server : m_servers) {
            const QString id = server.id.toString(QUuid::WithoutBraces);
            ackedTwice += std::max(0,
                controller->acks().value(id + u' ' + QString(rawValue(CommandAction::restart))) - server.restartsSent);
            ackedTwice += std::max(0,
                controller->acks().value(id + u' ' + QString(rawValue(CommandAction::clearLogs))) - server.clearsSent);
        }
    }

    std::printf("\nrecovery  relay down   controller 1: back / lines   controller 2: back / lines   "
                "lost  dup  order  (ms after the relay accepted again)\n");
    qint64 worstFlow = 0;
    bool neverFlowed = false;
    for (size_t i = 0; i < m_downMs.size(); ++i) {
        QString row = u"%1  %2"_s.arg(i + 1, 8).arg(m_downMs[i], 10);
        LineLedger::Tally tally;
        for (const auto& controller : m_controllers) {
            const auto& recoveries = controller->recoveries();
            std::optional<qint64> back;
            std::optional<qint64> lines;
            if (i < recoveries.size()) {
                if (recoveries[i].connectedMs)
                    back = *recoveries[i].connectedMs - recoveries[i].upMs;
                if (recoveries[i].linesMs)
                    lines = *recoveries[i].linesMs - recoveries[i].upMs;
            }
            if (lines)
                worstFlow = std::max(worstFlow, *lines);
            else
                neverFlowed = true;
            row += u"   %1 / %2"_s.arg(ms(back), 12).arg(ms(lines), 12);
            tally += controller->ledger().byEpoch().value(int(i) + 1);
        }
        row += u"   %1 %2 %3"_s.arg(tally.lost, 5).arg(tally.duplicated, 4).arg(tally.outOfOrder, 6);
        std::printf("%s\n", qPrintable(row));
    }

    LineLedger::Tally total;
    for (size_t c = 0; c < m_controllers.size(); ++c) {
        const LineLedger::Tally t = m_controllers[c]->ledger().total();
        total += t;
        std::printf("\ncontroller %zu: %lld lines shown, %lld resent (dropped by id), %d reconnections, "
                    "%d undecryptable\n"
                    "  missing but never promised: %lld older than the %d-line backlog, %lld cleared while away\n"
                    "  arrived after newer lines, shown in their place by date: %lld\n",
            c + 1, qlonglong(t.shown), qlonglong(t.resent), m_controllers[c]->epoch(),
            m_controllers[c]->undecryptable(), qlonglong(t.beyondBacklog), backlogLines, qlonglong(t.clearedAway),
            qlonglong(t.arrivedLate));
        const LineLedger::Tally first = m_controllers[c]->ledger().byEpoch().value(0);
        if (first.lost || first.duplicated || first.outOfOrder)
            std::printf("  before the first kill: lost %lld, duplicated %lld, out of order %lld\n",
                qlonglong(first.lost), qlonglong(first.duplicated), qlonglong(first.outOfOrder));
    }
    std::printf("\ncommands sent: %d restart, %d clearLogs\n", restarts, clears);

    struct Target {
        const char* what;
        qint64 value;
        qint64 limit;
        bool exact = false; // the value must equal the limit
    };
    const Target targets[] = {
        { "lines lost", total.lost, 0 },
        { "lines duplicated", total.duplicated, 0 },
        { "lines out of order", total.outOfOrder, 0 },
        { "commands run twice (starts)", ranTwice, 0 },
        { "commands acknowledged twice", ackedTwice, 0 },
        { "longest relay-back to lines (ms)", neverFlowed ? -1 : worstFlow, m_settings.targetFlowMs },
        { "recoveries timed", qint64(m_downMs.size()), qint64(m_settings.kills), true },
    };
    std::printf("\n%-36s %10s %10s\n", "", "measured", "target");
    bool met = true;
    for (const Target& target : targets) {
        const bool ok = target.exact ? target.value == target.limit : target.value >= 0 && target.value <= target.limit;
        met = met && ok;
        std::printf("%-36s %10s %10lld  %s\n", target.what,
            target.value < 0 ? "never" : qPrintable(QString::number(target.value)), qlonglong(target.limit),
            ok ? "ok" : "MISSED");
    }
    std::printf("\nreconnect schedule (the floor): after a failure n (from 0) the client waits "
                "0.5 s x 2^n, at most 30 s, plus 0 to 0.5 s of jitter;\n"
                "a relay killed and back within 0.5 s is redialled 0.5 to 1.0 s after the loss.\n");
    std::fflush(stdout);
    QCoreApplication::exit(met ? 0 : 1);
}

} // namespace Wardlamp::Soak
