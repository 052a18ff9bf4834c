// ServerManager with real children: the scripted wl-test-child run through a
// real login shell, real pipes, real signals.

#include "TestEnvironment.h"
#include "TestServers.h"
#include "platform/SockDiagListenerScanner.h"
#include "supervision/ErrorAlertService.h"
#include "supervision/OutputPump.h"
#include "supervision/ServerManager.h"
#include "supervision/ShellCommand.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace Wardlamp;
using namespace std::chrono_literals;

namespace {

QString child()
{
    return Test::program(QStringLiteral("wl-test-child"));
}

// The shell command line running wl-test-child with the steps.
QString childCommand(const QStringList& steps)
{
    QStringList words { ShellCommand::quoted(child()) };
    for (const QString& step : steps)
        words.append(ShellCommand::quoted(step));
    return words.join(u' ');
}

QStringList texts(const ServerRuntimeState& state)
{
    QStringList result;
    for (const LogLine& line : state.logs)
        result.append(line.text);
    return result;
}

QStringList errorTexts(const ServerRuntimeState& state)
{
    QStringList result;
    for (const LogLine& line : state.logs) {
        if (line.isError)
            result.append(line.text);
    }
    return result;
}

// A process that ended: gone, or a zombie nobody has collected yet.
bool processGone(int pid)
{
    if (::kill(pid, 0) != 0)
        return true;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray data = stat.readAll();
    const qsizetype close = data.lastIndexOf(')');
    return close > 0 && data.size() > close + 2 && data[close + 2] == 'Z';
}

// What the descriptors open in this process right now refer to, sorted.
QStringList openDescriptors()
{
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
        targets.append(fd.symLinkTarget().isEmpty() ? QFile::symLinkTarget(fd.filePath()) : fd.symLinkTarget());
    // The listing's own descriptor is open while it is read.
    targets.sort();
    return targets;
}

int readPidFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readAll().trimmed().toInt();
}

// A stray server holding a port: wl-test-child listening, plus a grandchild
// that inherited the socket. Started with QProcess, outside the manager.
class Holder {
public:
    explicit Holder(quint16 port)
        : m_port(port)
    {
    }
    ~Holder()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(Test::waitMs(5000));
        }
        if (m_grandchild > 0)
            ::kill(m_grandchild, SIGKILL);
    }

    bool start()
    {
        m_process.start(child(),
            { QStringLiteral("listen:") + QString::number(m_port), QStringLiteral("grandchild"), QStringLiteral("{"),
                QStringLiteral("hold"), QStringLiteral("}"), QStringLiteral("hold") });
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < Test::waitMs(5000)) {
            m_process.waitForReadyRead(100);
            m_output += m_process.readAllStandardOutput();
            const qsizetype at = m_output.indexOf("grandchild ");
            if (m_output.contains("listening ") && at >= 0 && m_output.indexOf('\n', at) > 0) {
                m_grandchild = m_output.mid(at + 11, m_output.indexOf('\n', at) - at - 11).toInt();
                m_pid = int(m_process.processId());
                return true;
            }
        }
        return false;
    }
    int pid() const { return m_pid; }
    int grandchild() const { return m_grandchild; }

private:
    quint16 m_port;
    QProcess m_process;
    QByteArray m_output;
    int m_pid = 0;
    int m_grandchild = 0;
};

// A server that fails on the busy port. With exitFirst it exits at once;
// otherwise it lingers 1.5 s after the message. Once the port is free, the
// same command listens and stays.
QString failingListenerCommand(quint16 port, bool exitFirst)
{
    if (exitFirst)
        return childCommand({ QStringLiteral("listen:") + QString::number(port), QStringLiteral("hold") });
    const QString script = QStringLiteral("\"$0\" listen:%1 hold || { \"$0\" sleep:1500; exit 1; }").arg(port);
    return QStringLiteral("sh -c ") + ShellCommand::quoted(script) + u' ' + ShellCommand::quoted(child());
}

const QString started = QStringLiteral("\u25B6\uFE0E Started: ");
const QString stopping = QStringLiteral("\u25A0 Stopping\u2026");
const QString stopped = QStringLiteral("\u25A0 Stopped.");

struct Alert {
    QUuid id;
    QString message;
};

} // namespace

class TestServerManager : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
    std::unique_ptr<ErrorAlertService> m_alertService;
    QList<Alert> m_alerts;

    std::unique_ptr<ServerManager> makeManager(
        const QString& shell = QStringLiteral("/bin/bash"), bool scanPorts = false)
    {
        m_alertService = std::make_unique<ErrorAlertService>();
        m_alerts.clear();
        m_alertService->setCustomHandler([this](const ServerConfig& config, const QString& message) {
            m_alerts.append({ config.id, message });
        });
        ServerManagerOptions options;
        options.loginShell = shell;
        options.alertService = m_alertService.get();
        if (scanPorts)
            options.listenerScanner = std::make_shared<SockDiagListenerScanner>();
        return std::make_unique<ServerManager>(options);
    }

    // Waits until every child of the manager has exited and been handled.
    static bool waitAllExited(ServerManager& manager)
    {
        if (!manager.anyProcessAlive())
            return true;
        QSignalSpy spy(&manager, &ServerManager::allProcessesExited);
        return spy.wait(Test::waitMs(10000)) || !manager.anyProcessAlive();
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_env = std::make_unique<Test::TestEnvironment>();
        QVERIFY2(QFile::exists(child()), qPrintable(child()));
        QVERIFY(ServerManager::installPipeWakeSignal());
    }

    void startWritesStartedLineAndCapturesOutput()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(
            QStringLiteral("api"), childCommand({ QStringLiteral("out:hello"), QStringLiteral("hold") }));
        QSignalSpy changed(manager.get(), &ServerManager::stateChanged);
        manager->start(config);
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.status, ServerStatus::running);
        QVERIFY(state.pid.has_value());
        QVERIFY(state.startedAt.has_value());
        QCOMPARE(texts(state).value(0), started + config.command);
        QCOMPARE(changed.count(), 1); // one notification for the whole start
        QTRY_COMPARE_WITH_TIMEOUT(
            texts(manager->state(config.id)).value(1), QStringLiteral("hello"), Test::waitMs(5000));
        QVERIFY(manager->anyRunning());
        QCOMPARE(manager->runningCount(), 1);
        QVERIFY(manager->anyProcessAlive());
        QVERIFY(m_alerts.isEmpty());
    }

    void blankCommandWritesErrorLineOnly()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"), QStringLiteral(" \t  "));
        manager->start(config);
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.status, ServerStatus::stopped);
        QCOMPARE(texts(state), QStringList { QStringLiteral("No command configured.") });
        QVERIFY(state.logs.first().isError);
        QVERIFY(!state.hasError);
        QVERIFY(!manager->anyProcessAlive());
    }

    void startWhileRunningChangesNothing()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("hold") }));
        manager->start(config);
        const ServerRuntimeState before = manager->state(config.id);
        QSignalSpy changed(manager.get(), &ServerManager::stateChanged);
        manager->start(config);
        QCOMPARE(manager->state(config.id), before);
        QCOMPARE(changed.count(), 0);
    }

    void stopOfNeverStartedServerCreatesNoEntry()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("hold") }));
        manager->stop(config);
        QVERIFY(!manager->states().contains(config.id));
        QCOMPARE(manager->state(config.id), ServerRuntimeState {});
    }

    void stopEndsWithStoppedAndSignalNumber()
    {
        auto manager = makeManager();
        const ServerConfig config
            = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("out:up"), QStringLiteral("hold") }));
        manager->start(config);
        QTRY_VERIFY_WITH_TIMEOUT(texts(manager->state(config.id)).contains(QStringLiteral("up")), Test::waitMs(5000));
        manager->stop(config);
        QCOMPARE(manager->state(config.id).status, ServerStatus::stopped);
        QVERIFY(!manager->state(config.id).pid.has_value());
        QCOMPARE(texts(manager->state(config.id)).last(), stopping);
        QVERIFY(waitAllExited(*manager));
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(texts(state), (QStringList { started + config.command, QStringLiteral("up"), stopping, stopped }));
        QCOMPARE(state.status, ServerStatus::stopped);
        QCOMPARE(state.lastExitCode, std::optional<qint32>(SIGTERM));
        QVERIFY(m_alerts.isEmpty());
    }

    void requestedStopOfTermIgnoringChildKillsAfterGrace()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("ignore-term"), QStringLiteral("out:stubborn"), QStringLiteral("hold") }));
        manager->start(config);
        QTRY_VERIFY_WITH_TIMEOUT(
            texts(manager->state(config.id)).contains(QStringLiteral("stubborn")), Test::waitMs(5000));
        QElapsedTimer clock;
        clock.start();
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
        QVERIFY2(clock.elapsed() >= 2900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(texts(manager->state(config.id)).last(), stopped);
        QCOMPARE(manager->state(config.id).lastExitCode, std::optional<qint32>(SIGKILL));
    }

    void stderrLineIsErrorAndAlerts()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand(
                { QStringLiteral("err:nothing special here"), QStringLiteral("out:after"), QStringLiteral("hold") }));
        manager->start(config);
        QTRY_VERIFY_WITH_TIMEOUT(
            texts(manager->state(config.id)).contains(QStringLiteral("after")), Test::waitMs(5000));
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(errorTexts(state), QStringList { QStringLiteral("nothing special here") });
        QCOMPARE(state.status, ServerStatus::error);
        QVERIFY(state.hasError);
        QVERIFY(manager->anyError());
        QCOMPARE(m_alerts.size(), 1);
        QCOMPARE(m_alerts[0].message, QStringLiteral("nothing special here"));
    }

    // A real Node server crashing on a busy port writes its report in one go:
    // "node:events:502", a throw line, then "Error: listen EADDRINUSE: ...".
    // The alert quotes the line that explains the crash, not the first.
    void alertQuotesTheLineThatExplainsTheCrash()
    {
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (node.isEmpty())
            QSKIP("node is not installed");
        const quint16 port = Test::freeTcpPort();
        QVERIFY(port != 0);
        Holder holder(port);
        QVERIFY2(holder.start(), "the holder did not start listening");
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("web"),
            ShellCommand::quoted(node) + QStringLiteral(" -e ")
                + ShellCommand::quoted(QStringLiteral("require('http').createServer().listen(%1)").arg(port)));
        manager->start(config);
        QTRY_VERIFY_WITH_TIMEOUT(!m_alerts.isEmpty(), Test::waitMs(15000));
        QCOMPARE(
            m_alerts[0].message, QStringLiteral("Error: listen EADDRINUSE: address already in use :::%1").arg(port));
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
    }

    void stdoutErrorPatternDecidesErrorLines()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("out:0 errors"), QStringLiteral("out:ErrorBoundary mounted"),
                QStringLiteral("out:caf\u00e9error \u65e5\u672cerror error\u00f1"),
                QStringLiteral("out:Error: connect ECONNREFUSED"), QStringLiteral("out:\u65e5\u672c: fatal"),
                QStringLiteral("out:done"), QStringLiteral("hold") }));
        manager->start(config);
        QTRY_VERIFY_WITH_TIMEOUT(texts(manager->state(config.id)).contains(QStringLiteral("done")), Test::waitMs(5000));
        QCOMPARE(errorTexts(manager->state(config.id)),
            (QStringList { QStringLiteral("Error: connect ECONNREFUSED"), QStringLiteral("\u65e5\u672c: fatal") }));
        QCOMPARE(manager->state(config.id).status, ServerStatus::error);
    }

    // Colours stay in the log; detection sees the text without them: a
    // coloured "Error" is an error line, a colour inside a word does not
    // hide it, and an escape sequence alone makes nothing an error.
    void colouredOutputIsDetectedWithoutItsEscapes()
    {
        auto manager = makeManager();
        const QString coloured = QStringLiteral("\x1b[31mError\x1b[39m: boom");
        const QString split = QStringLiteral("fat\x1b[1mal\x1b[0m");
        const QString harmless = QStringLiteral("\x1b[32mready\x1b[0m in 300 ms");
        const ServerConfig config = Test::server(QStringLiteral("web"),
            childCommand({ QStringLiteral("out:") + harmless, QStringLiteral("out:") + coloured,
                QStringLiteral("out:") + split, QStringLiteral("out:done"), QStringLiteral("hold") }));
        manager->start(config);
        QTRY_VERIFY_WITH_TIMEOUT(texts(manager->state(config.id)).contains(QStringLiteral("done")), Test::waitMs(5000));
        QCOMPARE(errorTexts(manager->state(config.id)), (QStringList { coloured, split }));
        QCOMPARE(m_alerts.size(), 1);
        QCOMPARE(m_alerts[0].message, QStringLiteral("Error: boom"));
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
    }

    // Children get Python unbuffered and colours forced, unless the user's
    // environment says otherwise.
    void childEnvironmentDefaults_data()
    {
        QTest::addColumn<QStringList>("userEnvironment"); // NAME=value
        QTest::addColumn<QStringList>("seen"); // PYTHONUNBUFFERED, FORCE_COLOR, CLICOLOR_FORCE
        const QString unset = QStringLiteral("<unset>");
        const QString one = QStringLiteral("1");
        QTest::newRow("nothing set") << QStringList() << QStringList { one, one, one };
        QTest::newRow("NO_COLOR") << QStringList { QStringLiteral("NO_COLOR=1") } << QStringList { one, unset, unset };
        QTest::newRow("empty NO_COLOR") << QStringList { QStringLiteral("NO_COLOR=") } << QStringList { one, one, one };
        QTest::newRow("user's own values") << QStringList {
            QStringLiteral("FORCE_COLOR=0"), QStringLiteral("CLICOLOR_FORCE=2"), QStringLiteral("PYTHONUNBUFFERED=0")
        } << QStringList { QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("2") };
    }
    void childEnvironmentDefaults()
    {
        QFETCH(QStringList, userEnvironment);
        QFETCH(QStringList, seen);
        const QList<QByteArray> names { "PYTHONUNBUFFERED", "FORCE_COLOR", "CLICOLOR_FORCE", "NO_COLOR" };
        QHash<QByteArray, std::optional<QByteArray>> saved;
        for (const QByteArray& name : names) {
            saved.insert(name,
                qEnvironmentVariableIsSet(name.constData()) ? std::optional(qgetenv(name.constData())) : std::nullopt);
            qunsetenv(name.constData());
        }
        for (const QString& item : userEnvironment)
            qputenv(item.section(u'=', 0, 0).toUtf8().constData(), item.section(u'=', 1).toUtf8());
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("env:PYTHONUNBUFFERED"), QStringLiteral("env:FORCE_COLOR"),
                QStringLiteral("env:CLICOLOR_FORCE"), QStringLiteral("exit:0") }));
        manager->start(config);
        const bool exited = waitAllExited(*manager);
        for (const QByteArray& name : names) {
            if (const std::optional<QByteArray> value = saved.value(name))
                qputenv(name.constData(), *value);
            else
                qunsetenv(name.constData());
        }
        QVERIFY(exited);
        QCOMPARE(texts(manager->state(config.id)).mid(1, 3), seen);
    }

    // A real Python server's print() reaches the log while it runs, not at
    // its exit (a pipe would otherwise buffer it).
    void pythonOutputArrivesWhileItRuns()
    {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        const QByteArray saved = qgetenv("PYTHONUNBUFFERED");
        const bool wasSet = qEnvironmentVariableIsSet("PYTHONUNBUFFERED");
        qunsetenv("PYTHONUNBUFFERED");
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("py"),
            ShellCommand::quoted(python) + QStringLiteral(" -c ")
                + ShellCommand::quoted(
                    QStringLiteral("import time\nprint('Running on http://127.0.0.1:5000')\ntime.sleep(300)")));
        manager->start(config);
        const bool shown = QTest::qWaitFor(
            [&] {
                return texts(manager->state(config.id)).contains(QStringLiteral("Running on http://127.0.0.1:5000"));
            },
            Test::waitMs(10000));
        if (wasSet)
            qputenv("PYTHONUNBUFFERED", saved);
        QVERIFY(shown);
        QVERIFY(manager->state(config.id).pid.has_value());
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
    }

    void errorAfterStopKeepsStatusStopped()
    {
        auto manager = makeManager();
        // Prints an error line while going down after SIGTERM would be racy; a
        // stopped server with a late error line is checked through markError.
        const ServerConfig config = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("hold") }));
        manager->start(config);
        manager->stop(config);
        manager->markError(config, QStringLiteral("late"));
        QCOMPARE(manager->state(config.id).status, ServerStatus::stopped);
        QVERIFY(manager->state(config.id).hasError);
        QVERIFY(waitAllExited(*manager));
    }

    void clearLogsOnErrorShowsStopped()
    {
        auto manager = makeManager();
        const ServerConfig config
            = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("err:boom"), QStringLiteral("hold") }));
        manager->start(config);
        QTRY_COMPARE_WITH_TIMEOUT(manager->state(config.id).status, ServerStatus::error, Test::waitMs(5000));
        QSignalSpy cleared(manager.get(), &ServerManager::logCleared);
        const quint64 lastSeq = manager->state(config.id).logs.lastSeq();
        manager->clearLogs(config.id);
        QCOMPARE(cleared.count(), 1);
        const ServerRuntimeState& state = manager->state(config.id);
        QVERIFY(state.logs.isEmpty());
        QVERIFY(!state.hasError);
        QCOMPARE(state.status, ServerStatus::stopped);
        // Numbering goes on after a clear.
        manager->appendLog(config.id, QStringLiteral("next"), false);
        QCOMPARE(manager->state(config.id).logs.first().seq, lastSeq + 1);
        manager->clearLogs(QUuid::createUuid()); // unknown id: nothing happens
        QCOMPARE(manager->states().size(), 1);
    }

    void exitZeroAfterErrorStaysError()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(
            QStringLiteral("api"), childCommand({ QStringLiteral("err:boom"), QStringLiteral("exit:0") }));
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.status, ServerStatus::error);
        QCOMPARE(texts(state).last(), QStringLiteral("\u25A0 Stopped (exit 0)"));
        QVERIFY(!state.logs.last().isError);
        QCOMPARE(state.lastExitCode, std::optional<qint32>(0));
        QCOMPARE(m_alerts.size(), 1); // the stderr line only
    }

    void exitOneWithoutRestart()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("exit:1") }));
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.status, ServerStatus::error);
        QVERIFY(state.hasError);
        QCOMPARE(state.lastExitCode, std::optional<qint32>(1));
        QCOMPARE(texts(state).last(), QStringLiteral("\u2716 Server exited with code 1"));
        QVERIFY(state.logs.last().isError);
        QCOMPARE(m_alerts.size(), 1);
        QCOMPARE(m_alerts[0].message, QStringLiteral("Server exited with code 1"));
    }

    void killedBySignalNine()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("hold") }));
        manager->start(config);
        const int pid = *manager->state(config.id).pid;
        ::kill(pid, SIGKILL);
        QVERIFY(waitAllExited(*manager));
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(texts(state).last(), QStringLiteral("\u2716 Server killed by signal 9"));
        QCOMPARE(state.lastExitCode, std::optional<qint32>(9));
        QCOMPARE(state.status, ServerStatus::error);
    }

    void crashRestartHappensOnceWithinCooldown()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("out:booting"), QStringLiteral("exit:3") }), { .restartOnCrash = true });
        QStringList seen;
        connect(manager.get(), &ServerManager::linesCaptured, this, [&seen](const QUuid&, const LineBatch& batch) {
            for (const CapturedLine& line : batch.lines)
                seen.append(QString::fromUtf8(line.text));
        });
        manager->start(config);
        const QString crash = QStringLiteral("\u2716 Server exited with code 3");
        const QString autoRestart = QStringLiteral("\u21BB Auto-restarting\u2026");
        QTRY_COMPARE_WITH_TIMEOUT(seen.count(crash), 2, Test::waitMs(10000));
        QVERIFY(waitAllExited(*manager));
        QCOMPARE(seen.count(autoRestart), 1);
        QCOMPARE(seen.count(started + config.command), 2);
        // The second crash happened within the cooldown: no restart was scheduled.
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.status, ServerStatus::error);
        QCOMPARE(texts(state), (QStringList { started + config.command, QStringLiteral("booting"), crash }));
        QCOMPARE(m_alerts.size(), 1); // the second alert falls within the alert debounce
    }

    void restartOfRunningServerStopsThenStarts()
    {
        auto manager = makeManager();
        const ServerConfig config
            = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("out:up"), QStringLiteral("hold") }));
        QStringList seen;
        connect(manager.get(), &ServerManager::linesCaptured, this, [&seen](const QUuid&, const LineBatch& batch) {
            for (const CapturedLine& line : batch.lines)
                seen.append(QString::fromUtf8(line.text));
        });
        manager->start(config);
        const int firstPid = *manager->state(config.id).pid;
        QTRY_VERIFY_WITH_TIMEOUT(seen.contains(QStringLiteral("up")), Test::waitMs(5000));
        manager->restart(config);
        QTRY_COMPARE_WITH_TIMEOUT(seen.count(QStringLiteral("up")), 2, Test::waitMs(10000));
        QCOMPARE(seen,
            (QStringList { started + config.command, QStringLiteral("up"), stopping,
                QStringLiteral("\u25A0 Stopped (restarting\u2026)"), started + config.command, QStringLiteral("up") }));
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.status, ServerStatus::running);
        QVERIFY(state.pid && *state.pid != firstPid);
        QCOMPARE(texts(state).first(), started + config.command);
    }

    // A start begins a new log; the one it replaced stays readable as the
    // previous run, with its start and how it ended (a crash's lines outlive
    // the automatic restart that follows).
    void previousRunKeepsTheLogAStartReplaced()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(
            QStringLiteral("api"), childCommand({ QStringLiteral("out:first run"), QStringLiteral("exit:3") }));
        QSignalSpy kept(manager.get(), &ServerManager::previousRunChanged);
        QCOMPARE(manager->previousRun(config.id), nullptr);
        manager->start(config);
        QCOMPARE(kept.count(), 0); // nothing ran before
        QVERIFY(waitAllExited(*manager));
        const QStringList firstLog = texts(manager->state(config.id));
        QCOMPARE(firstLog.last(), QStringLiteral("\u2716 Server exited with code 3"));
        const std::optional<QDateTime> firstStart = manager->state(config.id).startedAt;

        manager->start(config);
        QCOMPARE(kept.count(), 1);
        const PreviousRun* previous = manager->previousRun(config.id);
        QVERIFY(previous);
        QStringList previousTexts;
        for (const LogLine& line : previous->logs)
            previousTexts.append(line.text);
        QCOMPARE(previousTexts, firstLog);
        QCOMPARE(previous->startedAt, firstStart);
        QVERIFY(previous->ending);
        QCOMPARE(previous->ending->cause, RunEnding::Cause::exited);
        QCOMPARE(previous->ending->code, 3);
        QVERIFY(!previous->ending->requested);
        QVERIFY(previous->ending->at >= *firstStart);
        // The current log is the new run's alone.
        QCOMPARE(texts(manager->state(config.id)).first(), started + config.command);
        QVERIFY(!texts(manager->state(config.id)).contains(QStringLiteral("first run")));
        QVERIFY(waitAllExited(*manager));
    }

    void previousRunSaysHowItEnded()
    {
        auto manager = makeManager();
        // A requested stop: SIGTERM, asked for.
        const ServerConfig held
            = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("out:up"), QStringLiteral("hold") }));
        manager->start(held);
        // Once the child runs (the interactive shell before it ignores SIGTERM).
        QTRY_VERIFY_WITH_TIMEOUT(texts(manager->state(held.id)).contains(QStringLiteral("up")), Test::waitMs(5000));
        manager->stop(held);
        QVERIFY(waitAllExited(*manager));
        manager->start(held);
        const PreviousRun* stopped = manager->previousRun(held.id);
        QVERIFY(stopped && stopped->ending);
        QCOMPARE(stopped->ending->cause, RunEnding::Cause::signalled);
        QCOMPARE(stopped->ending->code, SIGTERM);
        QVERIFY(stopped->ending->requested);
        QCOMPARE(stopped->logs.last().text, QStringLiteral("\u25A0 Stopped."));

        // A server in error whose process still runs, started again: replaced.
        const ServerConfig erring
            = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("err:boom"), QStringLiteral("hold") }));
        manager->start(erring);
        QTRY_COMPARE_WITH_TIMEOUT(manager->state(erring.id).status, ServerStatus::error, Test::waitMs(5000));
        manager->start(erring);
        const PreviousRun* replaced = manager->previousRun(erring.id);
        QVERIFY(replaced && replaced->ending);
        QCOMPARE(replaced->ending->cause, RunEnding::Cause::replaced);
        QVERIFY(!replaced->ending->requested);
        QCOMPARE(replaced->logs.last().text, QStringLiteral("boom"));
        manager->shutdown(0ms);
        QVERIFY(waitAllExited(*manager));
    }

    void restartOfStoppedServerIsPlainStart()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("hold") }));
        manager->restart(config);
        QCOMPARE(manager->state(config.id).status, ServerStatus::running);
        QCOMPARE(texts(manager->state(config.id)), QStringList { started + config.command });
    }

    void drainAtExitKeepsEveryLine()
    {
        auto manager = makeManager();
        // Prints and exits at once: all output must be handled before the exit.
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand(
                { QStringLiteral("bulk:1500:100"), QStringLiteral("raw:6c617374"), QStringLiteral("exit:0") }));
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        const QStringList lines = texts(manager->state(config.id));
        QCOMPARE(lines.size(), 1 + 1500 + 1 + 1);
        QVERIFY(lines[1].startsWith(QStringLiteral("line 1.")));
        QVERIFY(lines[1500].startsWith(QStringLiteral("line 1500.")));
        QCOMPARE(lines[1501], QStringLiteral("last")); // the final line without a line feed
        QCOMPARE(lines[1502], QStringLiteral("\u25A0 Stopped (exit 0)"));
    }

    void linesSplitAcrossReadsAreAssembled()
    {
        auto manager = makeManager();
        // "ab" + pause + "c\r\n" + an é split between two writes + invalid byte.
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("raw:6162"), QStringLiteral("sleep:100"), QStringLiteral("raw:630d0a"),
                QStringLiteral("raw:c3"), QStringLiteral("sleep:100"), QStringLiteral("raw:a9ff0a"),
                QStringLiteral("exit:0") }));
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        QCOMPARE(texts(manager->state(config.id)),
            (QStringList { started + config.command, QStringLiteral("abc"), QStringLiteral("\u00e9\uFFFD"),
                QStringLiteral("\u25A0 Stopped (exit 0)") }));
    }

    void capEvictsOldestAndTapSeesEveryLine()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(
            QStringLiteral("api"), childCommand({ QStringLiteral("bulk:5000"), QStringLiteral("exit:0") }));
        QList<quint64> seqs;
        int appended = 0;
        connect(manager.get(), &ServerManager::linesCaptured, this, [&seqs](const QUuid&, const LineBatch& batch) {
            for (const CapturedLine& line : batch.lines)
                seqs.append(line.seq);
        });
        connect(manager.get(), &ServerManager::linesAppended, this,
            [&appended](const QUuid&, quint64, int count) { appended += count; });
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        QCOMPARE(seqs.size(), 5002);
        for (int i = 1; i < seqs.size(); ++i)
            QCOMPARE(seqs[i], seqs[i - 1] + 1);
        QCOMPARE(appended, 5002);
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.logs.size(), ServerManager::maxLogLines);
        QCOMPARE(state.logs.last().seq, seqs.last());
        // 5002 lines in all (start line, 5000, stop line): the last 2000 remain.
        QCOMPARE(state.logs.first().text, QStringLiteral("line 3002"));
        QCOMPARE(texts(state).last(), QStringLiteral("\u25A0 Stopped (exit 0)"));
    }

    // The main thread stalls on the first batch while the child writes 20 MB:
    // the output thread stops reading at its limit, the child blocks, and once
    // the main thread catches up every line arrives, in order.
    void noLineLostUnderBackpressure()
    {
        auto manager = makeManager();
        const int count = 200000;
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("bulk:%1:100").arg(count), QStringLiteral("exit:0") }));
        int next = 1;
        bool inOrder = true;
        bool stalled = false;
        connect(manager.get(), &ServerManager::linesCaptured, this, [&](const QUuid&, const LineBatch& batch) {
            if (!stalled) {
                stalled = true;
                QThread::msleep(300); // a busy main thread, not a wait for an event
            }
            for (const CapturedLine& line : batch.lines) {
                if (!line.text.startsWith("line "))
                    continue;
                const QByteArrayView digits = line.text.sliced(5, line.text.indexOf('.') - 5);
                inOrder = inOrder && digits.toInt() == next;
                ++next;
            }
        });
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        QVERIFY(inOrder);
        QCOMPARE(next - 1, count);
        QCOMPARE(texts(manager->state(config.id)).last(), QStringLiteral("\u25A0 Stopped (exit 0)"));
    }

    // A replaced run's late output and exit must not act on its replacement.
    void staleExitDoesNotTouchReplacement()
    {
        auto manager = makeManager();
        ServerConfig config = Test::server(
            QStringLiteral("api"), childCommand({ QStringLiteral("err:first run failed"), QStringLiteral("hold") }));
        manager->start(config);
        QTRY_COMPARE_WITH_TIMEOUT(manager->state(config.id).status, ServerStatus::error, Test::waitMs(5000));
        const int firstPid = *manager->state(config.id).pid;
        config.command = childCommand({ QStringLiteral("out:second"), QStringLiteral("hold") });
        manager->start(config); // error status: a start replaces the live run
        const int secondPid = *manager->state(config.id).pid;
        QTRY_VERIFY_WITH_TIMEOUT(processGone(firstPid), Test::waitMs(5000));
        QTRY_VERIFY_WITH_TIMEOUT(
            texts(manager->state(config.id)).contains(QStringLiteral("second")), Test::waitMs(5000));
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(texts(state), (QStringList { started + config.command, QStringLiteral("second"), stopping, stopped }));
        QCOMPARE(state.status, ServerStatus::stopped);
        QVERIFY(secondPid != firstPid);
        QCOMPARE(m_alerts.size(), 1);
    }

    void stopEndsWholeProcessTree()
    {
        auto manager = makeManager();
        QTemporaryDir dir;
        const QString inGroup = dir.filePath(QStringLiteral("in-group"));
        const QString ownSession = dir.filePath(QStringLiteral("own-session"));
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("grandchild"), QStringLiteral("{"), QStringLiteral("pidfile:") + inGroup,
                QStringLiteral("hold"), QStringLiteral("}"), QStringLiteral("setsid-grandchild"), QStringLiteral("{"),
                QStringLiteral("ignore-term"), QStringLiteral("pidfile:") + ownSession, QStringLiteral("hold"),
                QStringLiteral("}"), QStringLiteral("hold") }));
        manager->start(config);
        QTRY_VERIFY_WITH_TIMEOUT(readPidFile(inGroup) > 0 && readPidFile(ownSession) > 0, Test::waitMs(5000));
        const int a = readPidFile(inGroup);
        const int b = readPidFile(ownSession);
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
        // The setsid grandchild ignores SIGTERM too: only the forced kill ends it.
        QTRY_VERIFY_WITH_TIMEOUT(processGone(a), Test::waitMs(5000));
        QTRY_VERIFY_WITH_TIMEOUT(processGone(b), Test::waitMs(8000));
    }

    void daemonisedDescendantDoesNotOutliveStop()
    {
        // setsid, then a double fork whose middle exits: the survivor has no
        // parent chain to the server and neither its group nor its session.
        auto manager = makeManager();
        QTemporaryDir dir;
        const QString daemonPid = dir.filePath(QStringLiteral("daemon"));
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("setsid-grandchild"), QStringLiteral("{"), QStringLiteral("grandchild"),
                QStringLiteral("{"), QStringLiteral("sleep:300"), QStringLiteral("pidfile:") + daemonPid,
                QStringLiteral("hold"), QStringLiteral("}"), QStringLiteral("}"), QStringLiteral("hold") }));
        manager->start(config);
        QTRY_VERIFY_WITH_TIMEOUT(readPidFile(daemonPid) > 0, Test::waitMs(5000));
        const int daemon = readPidFile(daemonPid);
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
        QTRY_VERIFY_WITH_TIMEOUT(processGone(daemon), Test::waitMs(5000));
    }

    // What a supervisor of this configuration left running when it was
    // killed (a wrapper's child, and a daemonised grandchild) is stopped by
    // the next one; another configuration's tagged process is not touched.
    void leftoversOfAKilledSupervisorAreStopped()
    {
        QTemporaryDir dir;
        const QString daemonPid = dir.filePath(QStringLiteral("daemon"));
        const auto startTagged = [&](QProcess& process, const QByteArray& tag, const QStringList& steps) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("WARDLAMP_CONFIGURATION"), QString::fromLatin1(tag));
            process.setProcessEnvironment(environment);
            process.start(child(), steps);
            return process.waitForReadyRead(Test::waitMs(5000));
        };
        QProcess ours;
        QVERIFY(startTagged(ours, "config-a",
            { QStringLiteral("out:up"), QStringLiteral("setsid-grandchild"), QStringLiteral("{"),
                QStringLiteral("grandchild"), QStringLiteral("{"), QStringLiteral("ignore-term"),
                QStringLiteral("pidfile:") + daemonPid, QStringLiteral("hold"), QStringLiteral("}"),
                QStringLiteral("}"), QStringLiteral("hold") }));
        QProcess theirs;
        QVERIFY(startTagged(theirs, "config-b", { QStringLiteral("out:up"), QStringLiteral("hold") }));
        QTRY_VERIFY_WITH_TIMEOUT(readPidFile(daemonPid) > 0, Test::waitMs(5000));
        const int daemon = readPidFile(daemonPid);

        auto manager = makeManager();
        manager->setConfigurationTag("config-a");
        QCOMPARE(manager->stopLeftovers(), 2);
        QVERIFY(ours.waitForFinished(Test::waitMs(5000)));
        QTRY_VERIFY_WITH_TIMEOUT(processGone(daemon), Test::waitMs(5000)); // it ignored SIGTERM
        QVERIFY(!processGone(int(theirs.processId())));
        QCOMPARE(manager->stopLeftovers(), 0);

        // Its own servers carry the tag, so the next supervisor finds them.
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("env:WARDLAMP_CONFIGURATION"), QStringLiteral("exit:0") }));
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        QCOMPARE(texts(manager->state(config.id)).value(1), QStringLiteral("config-a"));
        theirs.kill();
        theirs.waitForFinished(Test::waitMs(5000));
    }

    void childEnvironmentHasNoRemoteSecrets()
    {
        qputenv("WL_REMOTE_SECRET", "pairing-secret");
        qputenv("WL_REMOTE_PASSWORD", "hunter2");
        qputenv("WL_REMOTE_KEY", "controller-key");
        qputenv("WL_REMOTE_ENABLED", "1");
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("env:WL_REMOTE_SECRET"), QStringLiteral("env:WL_REMOTE_PASSWORD"),
                QStringLiteral("env:WL_REMOTE_KEY"), QStringLiteral("env:WL_REMOTE_ENABLED"),
                QStringLiteral("exit:0") }));
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        qunsetenv("WL_REMOTE_SECRET");
        qunsetenv("WL_REMOTE_PASSWORD");
        qunsetenv("WL_REMOTE_KEY");
        qunsetenv("WL_REMOTE_ENABLED");
        const QStringList lines = texts(manager->state(config.id));
        QCOMPARE(lines.mid(1, 4),
            (QStringList { QStringLiteral("<unset>"), QStringLiteral("<unset>"), QStringLiteral("<unset>"),
                QStringLiteral("1") }));
    }

    void bashJobControlNoiseIsDropped()
    {
        auto manager = makeManager(QStringLiteral("/bin/bash"));
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("err:real problem"), QStringLiteral("err:bash: no job control in this shell"),
                QStringLiteral("exit:0") }));
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        // bash's own two lines came first and are gone; the child's identical text later stays.
        QCOMPARE(errorTexts(manager->state(config.id)),
            (QStringList { QStringLiteral("real problem"), QStringLiteral("bash: no job control in this shell") }));
    }

    // Each login shell runs the command and leaves nothing of its own in the
    // log: no error line, no error state (dash says it has no tty).
    void otherShellsRunTheCommandCleanly_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::newRow("zsh") << QStringLiteral("/usr/bin/zsh");
        QTest::newRow("dash") << QStringLiteral("/usr/bin/dash");
    }
    void otherShellsRunTheCommandCleanly()
    {
        QFETCH(QString, shell);
        if (!QFile::exists(shell))
            QSKIP("this shell is not installed");
        auto manager = makeManager(shell);
        const ServerConfig config = Test::server(
            QStringLiteral("api"), childCommand({ QStringLiteral("out:from the shell"), QStringLiteral("exit:0") }));
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        QCOMPARE(texts(manager->state(config.id)),
            (QStringList { started + config.command, QStringLiteral("from the shell"),
                QStringLiteral("\u25A0 Stopped (exit 0)") }));
        QVERIFY(!manager->state(config.id).hasError);
    }

    // A login shell's rc file that talks on both streams (stty without a
    // terminal, nvm and conda notices) before the command starts: its lines
    // are shown as normal lines, never as errors; the server's own standard
    // error after them still is.
    void shellStartupOutputIsNeverAnError_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("rcFile");
        QTest::newRow("bash") << QStringLiteral("/bin/bash") << QStringLiteral(".bash_profile");
        QTest::newRow("dash") << QStringLiteral("/usr/bin/dash") << QStringLiteral(".profile");
        QTest::newRow("zsh") << QStringLiteral("/usr/bin/zsh") << QStringLiteral(".zshrc");
    }
    void shellStartupOutputIsNeverAnError()
    {
        QFETCH(QString, shell);
        QFETCH(QString, rcFile);
        if (!QFile::exists(shell))
            QSKIP("this shell is not installed");
        QTemporaryDir home;
        QFile rc(home.filePath(rcFile));
        QVERIFY(rc.open(QIODevice::WriteOnly));
        rc.write("echo \"stty: 'standard input': Inappropriate ioctl for device\" >&2\n"
                 "echo 'nvm: error: no default alias' >&2\n"
                 "echo 'conda: Error loading environment'\n");
        rc.close();
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        auto manager = makeManager(shell);
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("out:serving"), QStringLiteral("sleep:100"),
                QStringLiteral("err:the server's own complaint"), QStringLiteral("exit:0") }));
        manager->start(config);
        const bool exited = waitAllExited(*manager);
        qputenv("HOME", savedHome);
        QVERIFY(exited);
        const ServerRuntimeState& state = manager->state(config.id);
        const QStringList lines = texts(state);
        for (const QString& shown : { QStringLiteral("stty: 'standard input': Inappropriate ioctl for device"),
                 QStringLiteral("nvm: error: no default alias"), QStringLiteral("conda: Error loading environment"),
                 QStringLiteral("serving") })
            QVERIFY2(lines.contains(shown), qPrintable(lines.join(u'|')));
        QCOMPARE(errorTexts(state), QStringList { QStringLiteral("the server's own complaint") });
        QCOMPARE(m_alerts.size(), 1);
        QCOMPARE(m_alerts[0].message, QStringLiteral("the server's own complaint"));
        for (const QString& line : lines)
            QVERIFY2(!line.contains(QStringLiteral("wardlamp: the command starts")), qPrintable(line));
    }

    // The same rc file and a server that prints nothing on standard error:
    // the server ends healthy, with no alert.
    void shellStartupOutputLeavesAHealthyServerHealthy()
    {
        QTemporaryDir home;
        QFile rc(home.filePath(QStringLiteral(".bash_profile")));
        QVERIFY(rc.open(QIODevice::WriteOnly));
        rc.write("echo 'stty: standard input: Inappropriate ioctl for device' >&2\n");
        rc.close();
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        auto manager = makeManager(QStringLiteral("/bin/bash"));
        const ServerConfig config = Test::server(
            QStringLiteral("api"), childCommand({ QStringLiteral("out:serving"), QStringLiteral("hold") }));
        manager->start(config);
        const bool shown = QTest::qWaitFor(
            [&] { return texts(manager->state(config.id)).contains(QStringLiteral("serving")); }, Test::waitMs(10000));
        qputenv("HOME", savedHome);
        QVERIFY(shown);
        const ServerRuntimeState& state = manager->state(config.id);
        QVERIFY(texts(state).contains(QStringLiteral("stty: standard input: Inappropriate ioctl for device")));
        QCOMPARE(state.status, ServerStatus::running);
        QVERIFY(!state.hasError);
        QVERIFY(m_alerts.isEmpty());
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
    }

    void missingShellFailsToStart()
    {
        auto manager = makeManager(QStringLiteral("/nonexistent/shell"));
        const ServerConfig config = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("hold") }));
        manager->start(config);
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.status, ServerStatus::error);
        QVERIFY(state.hasError);
        QCOMPARE(texts(state).last(), QStringLiteral("Failed to start: No such file or directory"));
        QVERIFY(state.logs.last().isError);
        QVERIFY(m_alerts.isEmpty());
        QVERIFY(!manager->anyProcessAlive());
    }

    // No descriptor to be had when the manager is built: its output thread
    // cannot be set up. Nothing crashes; every start fails like a launch
    // that failed, saying why.
    void startFailsWithAReasonWhenTheOutputThreadCannotBeSetUp()
    {
        rlimit saved {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        QVERIFY(lowestFree >= 0);
        ::close(lowestFree);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(lowestFree); // the next descriptor would be past the limit
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("servers cannot be started")));
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        auto manager = makeManager();
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);

        const ServerConfig config = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("hold") }));
        manager->start(config);
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.status, ServerStatus::error);
        QVERIFY(state.hasError);
        QCOMPARE(texts(state).last(),
            QStringLiteral("Failed to start: cannot create the output thread's epoll: Too many open files"));
        QVERIFY(state.logs.last().isError);
        QVERIFY(!manager->anyProcessAlive());
        QVERIFY(manager->isIdle());
    }

    // A quiet server's pipes keep the kernel's default size, so that a
    // hundred servers stay inside a user's pipe budget; a burst grows the
    // pipe, and it goes back once output has been quiet for a while.
    void pipesGrowOnlyWhileBusy()
    {
        QStringList steps { QStringLiteral("out:ready"), QStringLiteral("sleep:500"),
            QStringLiteral("bulk:40000:100") };
        for (int i = 0; i < 10; ++i)
            steps += { QStringLiteral("out:trickle"), QStringLiteral("sleep:200") };
        steps += { QStringLiteral("out:quiet now"), QStringLiteral("hold") };
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"), childCommand(steps));
        manager->start(config);
        const int pid = *manager->state(config.id).pid;
        const auto pipeSize = [pid] {
            const int fd = ::open(QByteArrayLiteral("/proc/%1/fd/1").replace("%1", QByteArray::number(pid)).constData(),
                O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            const int size = fd >= 0 ? ::fcntl(fd, F_GETPIPE_SZ) : -1;
            if (fd >= 0)
                ::close(fd);
            return size;
        };
        QTRY_VERIFY_WITH_TIMEOUT(
            texts(manager->state(config.id)).contains(QStringLiteral("ready")), Test::waitMs(5000));
        QCOMPARE(pipeSize(), Detail::OutputPump::quietPipeBytes);
        QTRY_VERIFY_WITH_TIMEOUT(
            texts(manager->state(config.id)).contains(QStringLiteral("trickle")), Test::waitMs(20000));
        QCOMPARE(pipeSize(), Detail::OutputPump::busyPipeBytes);
        QTRY_VERIFY_WITH_TIMEOUT(
            texts(manager->state(config.id)).contains(QStringLiteral("quiet now")), Test::waitMs(20000));
        QTRY_COMPARE_WITH_TIMEOUT(pipeSize(), Detail::OutputPump::quietPipeBytes, Test::waitMs(10000));
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
    }

    // The output thread's epoll set fails (its descriptor replaced under
    // it): the thread says so and watches everything anew, so output is
    // still read and exits still handled.
    void outputThreadSurvivesAFailedEpoll()
    {
        const auto epolls = [] {
            QSet<int> found;
            const QDir fds(QStringLiteral("/proc/self/fd"));
            for (const QString& name : fds.entryList(QDir::Files | QDir::System)) {
                if (QFile::symLinkTarget(fds.filePath(name)).endsWith(QLatin1String("anon_inode:[eventpoll]")))
                    found.insert(name.toInt());
            }
            return found;
        };
        const QSet<int> before = epolls();
        auto manager = makeManager();
        const ServerConfig first = Test::server(
            QStringLiteral("first"), childCommand({ QStringLiteral("out:one"), QStringLiteral("exit:0") }));
        manager->start(first);
        QVERIFY(waitAllExited(*manager));
        const QSet<int> ours = epolls() - before;
        QCOMPARE(ours.size(), 1);
        const int epoll = *ours.begin();
        const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        QVERIFY(devNull >= 0);
        QVERIFY(::dup2(devNull, epoll) == epoll);
        ::close(devNull);
        const ServerConfig second = Test::server(QStringLiteral("second"),
            childCommand({ QStringLiteral("out:after"), QStringLiteral("sleep:100"), QStringLiteral("exit:3") }));
        manager->start(second);
        QVERIFY(waitAllExited(*manager));
        const ServerRuntimeState& state = manager->state(second.id);
        QVERIFY(texts(state).contains(QStringLiteral("after")));
        QCOMPARE(state.lastExitCode, std::optional<int>(3));
        ::close(epoll); // /dev/null now; the thread watches through a new set
    }

    void directoryIsQuotedForTheShell_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("single quote") << QStringLiteral("it's");
        QTest::newRow("spaces") << QStringLiteral("my  project dir");
        QTest::newRow("command substitution") << QStringLiteral("$(touch pwned)");
        QTest::newRow("backticks") << QStringLiteral("`touch pwned`");
        QTest::newRow("newline") << QStringLiteral("a\nb");
        QTest::newRow("everything") << QStringLiteral("'\"; exit 7; $HOME `id` \\ \t'");
    }

    void directoryIsQuotedForTheShell()
    {
        QFETCH(QString, name);
        QTemporaryDir base;
        const QString path = base.path() + u'/' + name;
        QVERIFY(QDir().mkpath(path));
        auto manager = makeManager();
        ServerConfig config
            = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("cwd"), QStringLiteral("exit:0") }));
        config.directory = path;
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        const ServerRuntimeState& state = manager->state(config.id);
        if (!name.contains(u'\n')) {
            QCOMPARE(texts(state).value(1), path);
        } else {
            // The child prints its cwd as one line; the newline makes two.
            const QStringList parts = path.split(u'\n');
            QCOMPARE(texts(state).mid(1, 2), parts);
        }
        QCOMPARE(texts(state).last(), QStringLiteral("\u25A0 Stopped (exit 0)"));
        QVERIFY(!QFile::exists(base.filePath(QStringLiteral("pwned"))));
        QVERIFY(!QFile::exists(QDir::current().filePath(QStringLiteral("pwned"))));
    }

    // "~/proj" runs in the home folder's proj, as every user expects (the
    // shell would take a quoted ~ literally: "cd: ~/proj: No such file").
    void tildeDirectoryIsTheHomeFolder()
    {
        QTemporaryDir home;
        QVERIFY(QDir().mkpath(home.filePath(QStringLiteral("proj"))));
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        auto manager = makeManager(QStringLiteral("/bin/sh"));
        ServerConfig config
            = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("cwd"), QStringLiteral("exit:0") }));
        config.directory = QStringLiteral("~/proj");
        manager->start(config);
        const bool exited = waitAllExited(*manager);
        qputenv("HOME", savedHome);
        QVERIFY(exited);
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(texts(state).value(1), home.filePath(QStringLiteral("proj")));
        QCOMPARE(texts(state).last(), QStringLiteral("\u25A0 Stopped (exit 0)"));
        QVERIFY(!state.hasError);
    }

    // Command lines that are more than one simple command run whole, in the
    // server's directory; when the cd fails, none of the line runs.
    void commandLinesRunWhole_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("directoryExists");
        QTest::addColumn<QStringList>("output");
        const QString first = childCommand({ QStringLiteral("out:first"), QStringLiteral("exit:0") });
        const QString second = childCommand({ QStringLiteral("out:second"), QStringLiteral("exit:0") });
        QTest::newRow("list") << first + QStringLiteral(" && ") + second << true
                              << QStringList { QStringLiteral("first"), QStringLiteral("second") };
        QTest::newRow("sequence") << first + QStringLiteral("; ") + second << true
                                  << QStringList { QStringLiteral("first"), QStringLiteral("second") };
        QTest::newRow("assignment") << QStringLiteral("WL_PROBE='4 2' ")
                + childCommand({ QStringLiteral("env:WL_PROBE"), QStringLiteral("exit:0") })
                                    << true << QStringList { QStringLiteral("4 2") };
        QTest::newRow("loop") << QStringLiteral("for i in 1 2; do ") + first + QStringLiteral("; done") << true
                              << QStringList { QStringLiteral("first"), QStringLiteral("first") };
        QTest::newRow("ends in a comment") << first + QStringLiteral(" && ") + second + QStringLiteral(" # done")
                                           << true << QStringList { QStringLiteral("first"), QStringLiteral("second") };
        QTest::newRow("cd fails") << first + QStringLiteral("; ") + second << false << QStringList {};
    }
    void commandLinesRunWhole()
    {
        QFETCH(QString, command);
        QFETCH(bool, directoryExists);
        QFETCH(QStringList, output);
        QTemporaryDir base;
        auto manager = makeManager();
        ServerConfig config = Test::server(QStringLiteral("api"), command);
        config.directory = base.path() + (directoryExists ? QStringLiteral("/it's here") : QStringLiteral("/missing"));
        if (directoryExists)
            QVERIFY(QDir().mkpath(*config.directory));
        manager->start(config);
        QVERIFY(waitAllExited(*manager));
        const QStringList lines = texts(manager->state(config.id));
        QStringList captured;
        for (const QString& line : lines) {
            if (line == QLatin1String("first") || line == QLatin1String("second") || line == QLatin1String("4 2"))
                captured << line;
        }
        QCOMPARE(captured, output);
        if (directoryExists)
            QCOMPARE(lines.last(), QStringLiteral("\u25A0 Stopped (exit 0)"));
        else
            QVERIFY2(manager->state(config.id).hasError, qPrintable(lines.join(u'|')));
    }

    // A stop ends the whole list: the next command of "a; b" must not start
    // once the first is stopped (an interactive shell ignores SIGTERM and
    // would go on with it).
    void stopEndsAWholeList()
    {
        auto manager = makeManager();
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("out:up"), QStringLiteral("hold") }) + QStringLiteral("; ")
                + childCommand({ QStringLiteral("out:second"), QStringLiteral("hold") }));
        manager->start(config);
        QTRY_VERIFY_WITH_TIMEOUT(texts(manager->state(config.id)).contains(QStringLiteral("up")), Test::waitMs(5000));
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(texts(state), (QStringList { started + config.command, QStringLiteral("up"), stopping, stopped }));
        QVERIFY(errorTexts(state).isEmpty());
        QVERIFY(m_alerts.isEmpty());
    }

    // Port recovery. A stray instance (listener plus a grandchild that inherited
    // its socket) holds the port; the server fails with EADDRINUSE.
    void portRecovery_data()
    {
        QTest::addColumn<bool>("exitFirst");
        QTest::newRow("failing process exits before the port is freed") << true;
        QTest::newRow("port freed while the failing process lives") << false;
    }

    void portRecovery()
    {
        QFETCH(bool, exitFirst);
        const quint16 port = Test::freeTcpPort();
        QVERIFY(port != 0);
        Holder holder(port);
        QVERIFY2(holder.start(), "the holder did not start listening");

        auto manager = makeManager(QStringLiteral("/bin/bash"), true);
        const ServerConfig config = Test::server(QStringLiteral("api"), failingListenerCommand(port, exitFirst));
        QStringList seen;
        std::optional<bool> processPresentWhenFreed;
        connect(manager.get(), &ServerManager::linesCaptured, this, [&](const QUuid&, const LineBatch& batch) {
            for (const CapturedLine& line : batch.lines) {
                seen.append(QString::fromUtf8(line.text));
                if (seen.last().startsWith(QStringLiteral("Freed port")))
                    processPresentWhenFreed = manager->state(config.id).pid.has_value();
            }
        });
        manager->start(config);
        const QString listening = QStringLiteral("listening ") + QString::number(port);
        QTRY_VERIFY_WITH_TIMEOUT(seen.contains(listening), Test::waitMs(15000));

        QStringList pids { QString::number(holder.pid()), QString::number(holder.grandchild()) };
        std::sort(pids.begin(), pids.end(), [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
        const QString busy
            = QStringLiteral("Error: listen EADDRINUSE: address already in use 127.0.0.1:") + QString::number(port);
        QCOMPARE(seen,
            (QStringList { started + config.command, busy,
                QStringLiteral("\u26A0\uFE0E Port %1 already in use \u2014 freeing it and restarting\u2026").arg(port),
                QStringLiteral("Freed port %1 (stopped PID %2).").arg(port).arg(pids.join(QStringLiteral(", "))),
                QStringLiteral("\u21BB Restarting\u2026"), started + config.command, listening }));
        QCOMPARE(processPresentWhenFreed, std::optional<bool>(!exitFirst));
        QTRY_VERIFY_WITH_TIMEOUT(processGone(holder.grandchild()), Test::waitMs(5000));
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.status, ServerStatus::running);
        QVERIFY(!state.hasError);
        QCOMPARE(m_alerts.size(), 1); // the EADDRINUSE line; the exit during recovery raises none
    }

    // A port message in the middle of one read: the recovery's own line goes
    // between the output lines around it, and linesCaptured hands out the
    // log's lines with their numbers, in order. (The restart after the
    // recovery empties the log: it holds the second run's lines.)
    void capturedLinesAreTheLogsLines()
    {
        const quint16 port = Test::freeTcpPort();
        QVERIFY(port != 0);
        auto manager = makeManager(QStringLiteral("/bin/bash"), true);
        const QString busy = QStringLiteral("Error: listen EADDRINUSE: address already in use :::%1").arg(port);
        const QByteArray write = "before\n" + busy.toUtf8() + "\nafter\n";
        const ServerConfig config = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("rawerr:") + QString::fromLatin1(write.toHex()), QStringLiteral("exit:1") }));
        QList<QPair<quint64, QString>> captured;
        QStringList capturedTexts;
        connect(manager.get(), &ServerManager::linesCaptured, this, [&](const QUuid&, const LineBatch& batch) {
            for (const CapturedLine& line : batch.lines) {
                captured.append({ line.seq, QString::fromUtf8(line.text) });
                capturedTexts.append(captured.last().second);
            }
        });
        manager->start(config);
        QTRY_COMPARE_WITH_TIMEOUT(capturedTexts.count(QStringLiteral("after")), 2, Test::waitMs(15000));
        QVERIFY(waitAllExited(*manager));

        const qsizetype at = capturedTexts.indexOf(busy);
        QVERIFY(at > 0);
        QCOMPARE(capturedTexts.mid(at - 1, 4),
            (QStringList { QStringLiteral("before"), busy,
                QStringLiteral("\u26A0\uFE0E Port %1 already in use \u2014 freeing it and restarting\u2026").arg(port),
                QStringLiteral("after") }));
        for (qsizetype i = 1; i < captured.size(); ++i)
            QCOMPARE(captured[i].first, captured[i - 1].first + 1);
        QList<QPair<quint64, QString>> logged;
        for (const LogLine& line : manager->state(config.id).logs)
            logged.append({ line.seq, line.text });
        QVERIFY(logged.size() >= 4);
        QCOMPARE(captured.mid(captured.size() - logged.size()), logged);
    }

    // "Port P is in use, trying another one..." (Vite) from a server that
    // goes on: the program holding the port is a bystander. Nothing is
    // killed; the log names the holder.
    void carryingOnServerKillsNoBystander()
    {
        const quint16 port = Test::freeTcpPort();
        QVERIFY(port != 0);
        Holder holder(port);
        QVERIFY2(holder.start(), "the holder did not start listening");
        auto manager = makeManager(QStringLiteral("/bin/bash"), true);
        const QString vite = QStringLiteral("Port %1 is in use, trying another one...").arg(port);
        const ServerConfig config = Test::server(QStringLiteral("vite"),
            childCommand({ QStringLiteral("out:") + vite, QStringLiteral("listen:0"), QStringLiteral("hold") }));
        manager->start(config);
        QList<int> pids { holder.pid(), holder.grandchild() };
        std::sort(pids.begin(), pids.end());
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(holder.pid()));
        QVERIFY(cmdline.open(QIODevice::ReadOnly));
        const QString commandLine = QString::fromUtf8(cmdline.readAll().replace('\0', ' ').trimmed());
        QStringList named;
        for (int pid : pids)
            named.append(QStringLiteral("PID %1 (%2)").arg(pid).arg(commandLine));
        const QString held = QStringLiteral("Port %1 is held by %2; the server went on.")
                                 .arg(port)
                                 .arg(named.join(QStringLiteral(", ")));
        QTRY_VERIFY_WITH_TIMEOUT(texts(manager->state(config.id)).contains(held), Test::waitMs(10000));
        // Well past the kill grace: the holder and its grandchild still live.
        QTest::qWait(Test::waitMs(1000));
        QVERIFY(!processGone(holder.pid()));
        QVERIFY(!processGone(holder.grandchild()));
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.status, ServerStatus::running);
        QVERIFY(!state.hasError);
        for (const QString& line : texts(state))
            QVERIFY2(!line.startsWith(QStringLiteral("Freed port")) && !line.contains(QStringLiteral("freeing it")),
                qPrintable(line));
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
    }

    // "Port P is in use, trying Q instead." (Next), then the process exits
    // after all: it gave up on the port, which is freed now, and the server
    // starts again with the usual recovery lines.
    void serverThatExitsAfterCarryOnMessageRecovers()
    {
        const quint16 port = Test::freeTcpPort();
        QVERIFY(port != 0);
        Holder holder(port);
        QVERIFY2(holder.start(), "the holder did not start listening");
        auto manager = makeManager(QStringLiteral("/bin/bash"), true);
        const QString next = QStringLiteral("Port %1 is in use, trying %2 instead.").arg(port).arg(port + 1);
        const QString script = QStringLiteral("\"$0\" listen:%1 hold 2>/dev/null || { \"$0\" %2; exit 1; }")
                                   .arg(port)
                                   .arg(ShellCommand::quoted(QStringLiteral("out:") + next));
        const ServerConfig config = Test::server(QStringLiteral("next"),
            QStringLiteral("sh -c ") + ShellCommand::quoted(script) + u' ' + ShellCommand::quoted(child()));
        QStringList seen;
        connect(manager.get(), &ServerManager::linesCaptured, this, [&](const QUuid&, const LineBatch& batch) {
            for (const CapturedLine& line : batch.lines)
                seen.append(QString::fromUtf8(line.text));
        });
        manager->start(config);
        const QString listening = QStringLiteral("listening ") + QString::number(port);
        QTRY_VERIFY_WITH_TIMEOUT(seen.contains(listening), Test::waitMs(15000));
        QStringList pids { QString::number(holder.pid()), QString::number(holder.grandchild()) };
        std::sort(pids.begin(), pids.end(), [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
        QCOMPARE(seen,
            (QStringList { started + config.command, next,
                QStringLiteral("\u26A0\uFE0E Port %1 already in use \u2014 freeing it and restarting\u2026").arg(port),
                QStringLiteral("Freed port %1 (stopped PID %2).").arg(port).arg(pids.join(QStringLiteral(", "))),
                QStringLiteral("\u21BB Restarting\u2026"), started + config.command, listening }));
        const ServerRuntimeState& state = manager->state(config.id);
        QCOMPARE(state.status, ServerStatus::running);
        QVERIFY(!state.hasError);
        QVERIFY(m_alerts.isEmpty());
        manager->stop(config);
        QVERIFY(waitAllExited(*manager));
    }

    void stopDuringPortRecoveryCancelsRestart()
    {
        const quint16 port = Test::freeTcpPort();
        Holder holder(port);
        QVERIFY2(holder.start(), "the holder did not start listening");
        auto manager = makeManager(QStringLiteral("/bin/bash"), true);
        const ServerConfig config = Test::server(QStringLiteral("api"), failingListenerCommand(port, false));
        QStringList seen;
        bool stopped = false;
        connect(manager.get(), &ServerManager::linesCaptured, this, [&](const QUuid&, const LineBatch& batch) {
            for (const CapturedLine& line : batch.lines)
                seen.append(QString::fromUtf8(line.text));
        });
        connect(manager.get(), &ServerManager::stateChanged, this, [&](const QUuid&) {
            // Stop as soon as the recovery has begun, while the failing process lives.
            if (!stopped && seen.filter(QStringLiteral("already in use \u2014")).size() == 1) {
                stopped = true;
                QMetaObject::invokeMethod(
                    this, [&] { manager->stop(config); }, Qt::QueuedConnection);
            }
        });
        manager->start(config);
        QTRY_VERIFY_WITH_TIMEOUT(!seen.filter(QStringLiteral("Freed port")).isEmpty(), Test::waitMs(10000));
        QVERIFY(waitAllExited(*manager));
        QCOMPARE(seen.filter(QStringLiteral("\u25A0 Stopped.")).size(), 1);
        QVERIFY(!seen.contains(QStringLiteral("\u21BB Restarting\u2026")));
        QCOMPARE(seen.count(started + config.command), 1);
        QCOMPARE(manager->state(config.id).status, ServerStatus::stopped);
    }

    // A start during a port recovery (the server shows an error, so it is
    // offered one) replaces the failing run; the recovery must not then claim
    // the new run's exit as its own.
    void startDuringPortRecoveryLeavesNewRunsCrashReported()
    {
        const quint16 port = Test::freeTcpPort();
        Holder holder(port);
        QVERIFY2(holder.start(), "the holder did not start listening");
        auto manager = makeManager(QStringLiteral("/bin/bash"), true);
        const ServerConfig config = Test::server(QStringLiteral("api"), failingListenerCommand(port, false));
        ServerConfig second = config;
        second.command = childCommand({ QStringLiteral("out:second"), QStringLiteral("exit:3") });
        QStringList seen;
        bool restarted = false;
        connect(manager.get(), &ServerManager::linesCaptured, this, [&](const QUuid&, const LineBatch& batch) {
            for (const CapturedLine& line : batch.lines)
                seen.append(QString::fromUtf8(line.text));
        });
        connect(manager.get(), &ServerManager::stateChanged, this, [&](const QUuid&) {
            if (!restarted && seen.filter(QStringLiteral("already in use \u2014")).size() == 1) {
                restarted = true;
                QMetaObject::invokeMethod(
                    this, [&] { manager->start(second); }, Qt::QueuedConnection);
            }
        });
        manager->start(config);
        QTRY_VERIFY_WITH_TIMEOUT(restarted && manager->isIdle(), Test::waitMs(15000));
        QCOMPARE(seen.count(started + second.command), 1);
        QVERIFY(seen.contains(QStringLiteral("\u2716 Server exited with code 3")));
        QVERIFY(!seen.contains(QStringLiteral("\u21BB Restarting\u2026")));
        QCOMPARE(seen.count(started + config.command), 1);
        QCOMPARE(manager->state(config.id).status, ServerStatus::error);
        QCOMPARE(manager->state(config.id).lastExitCode, std::optional<qint32>(3));
    }

    // With the cooldown's clock moved past 5 s between crashes, every crash is
    // restarted: the limit comes from the clock seam, not from wall time.
    void crashRestartAgainOnceCooldownHasPassed()
    {
        m_alertService = std::make_unique<ErrorAlertService>();
        m_alerts.clear();
        ServerManagerOptions options;
        options.loginShell = QStringLiteral("/bin/bash");
        options.alertService = m_alertService.get();
        auto fakeNow = std::chrono::steady_clock::time_point(1000s);
        options.clock = [&fakeNow] { return fakeNow += 6s; };
        ServerManager manager(options);
        const ServerConfig config = Test::server(
            QStringLiteral("api"), childCommand({ QStringLiteral("exit:3") }), { .restartOnCrash = true });
        int restarts = 0;
        connect(&manager, &ServerManager::linesCaptured, this, [&](const QUuid&, const LineBatch& batch) {
            for (const CapturedLine& line : batch.lines)
                restarts += QString::fromUtf8(line.text) == QStringLiteral("\u21BB Auto-restarting\u2026");
        });
        manager.start(config);
        QTRY_VERIFY_WITH_TIMEOUT(restarts >= 3, Test::waitMs(15000));
        manager.shutdown(100ms);
        QSignalSpy finished(&manager, &ServerManager::shutdownFinished);
        QVERIFY(finished.wait(Test::waitMs(5000)));
    }

    // The exit that a delayed start follows leaves no process alive, yet the
    // manager is not idle: idle() comes once, after the last run, never in the
    // gap before a crash restart, a restart after stop or a port recovery's restart.
    void idleWaitsForScheduledStarts_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("starts");
        QTest::newRow("crash restart") << QStringLiteral("crash") << 2;
        QTest::newRow("restart after a requested stop") << QStringLiteral("restart") << 2;
        QTest::newRow("port recovery") << QStringLiteral("port") << 2;
    }

    void idleWaitsForScheduledStarts()
    {
        QFETCH(QString, scenario);
        QFETCH(int, starts);
        const quint16 port = scenario == QStringLiteral("port") ? Test::freeTcpPort() : 0;
        std::unique_ptr<Holder> holder;
        if (port != 0) {
            holder = std::make_unique<Holder>(port);
            QVERIFY2(holder->start(), "the holder did not start listening");
        }
        auto manager = makeManager(QStringLiteral("/bin/bash"), port != 0);
        const ServerConfig config = scenario == QStringLiteral("crash")
            ? Test::server(QStringLiteral("api"),
                childCommand({ QStringLiteral("out:booting"), QStringLiteral("exit:3") }), { .restartOnCrash = true })
            : scenario == QStringLiteral("port")
            ? Test::server(QStringLiteral("api"), failingListenerCommand(port, true))
            : Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("out:up"), QStringLiteral("hold") }));
        QStringList seen;
        connect(manager.get(), &ServerManager::linesCaptured, this, [&seen](const QUuid&, const LineBatch& batch) {
            for (const CapturedLine& line : batch.lines)
                seen.append(QString::fromUtf8(line.text));
        });
        QList<int> startsAtIdle;
        connect(manager.get(), &ServerManager::idle, this, [&] {
            QVERIFY(manager->isIdle());
            startsAtIdle.append(int(seen.count(started + config.command)));
        });
        int exitsWithStartPending = 0;
        connect(manager.get(), &ServerManager::allProcessesExited, this, [&] {
            if (seen.count(started + config.command) < starts) {
                exitsWithStartPending += manager->hasScheduledStarts() ? 1 : 0;
                QVERIFY(!manager->isIdle());
            }
        });
        QVERIFY(manager->isIdle());
        manager->start(config);
        QVERIFY(!manager->isIdle());
        if (scenario == QStringLiteral("restart")) {
            QTRY_VERIFY_WITH_TIMEOUT(seen.contains(QStringLiteral("up")), Test::waitMs(5000));
            manager->restart(config);
        }
        if (scenario != QStringLiteral("crash")) {
            // The second run holds: stop it once it is up.
            const QString ready = scenario == QStringLiteral("port")
                ? QStringLiteral("listening ") + QString::number(port)
                : QStringLiteral("up");
            QTRY_VERIFY_WITH_TIMEOUT(
                seen.count(started + config.command) == starts && seen.last() == ready, Test::waitMs(15000));
            manager->stop(config);
        }
        QTRY_COMPARE_WITH_TIMEOUT(startsAtIdle.size(), 1, Test::waitMs(15000));
        QCOMPARE(startsAtIdle, QList<int> { starts });
        QCOMPARE(exitsWithStartPending, 1);
        QVERIFY(!manager->hasScheduledStarts());
    }

    // Pipes and pidfds are closed on every path: a normal exit, a crash, a
    // requested stop, a run replaced while alive, and a shell that cannot be
    // started at all.
    void noDescriptorLeaks()
    {
        const auto cycle = [this] {
            auto manager = makeManager();
            const ServerConfig exits = Test::server(
                QStringLiteral("api"), childCommand({ QStringLiteral("out:a"), QStringLiteral("exit:0") }));
            const ServerConfig crashes = Test::server(
                QStringLiteral("api"), childCommand({ QStringLiteral("err:b"), QStringLiteral("exit:2") }));
            const ServerConfig held = Test::server(
                QStringLiteral("api"), childCommand({ QStringLiteral("out:up"), QStringLiteral("hold") }));
            manager->start(exits);
            manager->start(crashes);
            manager->start(held);
            QTRY_VERIFY_WITH_TIMEOUT(texts(manager->state(held.id)).contains(QStringLiteral("up")), Test::waitMs(5000));
            manager->clearLogs(held.id); // running, so the next start is refused...
            manager->markError(held, QStringLiteral("x")); // ...until it shows an error: then it replaces the run
            manager->start(held);
            QTRY_VERIFY_WITH_TIMEOUT(texts(manager->state(held.id)).contains(QStringLiteral("up")), Test::waitMs(5000));
            manager->stop(held);
            QVERIFY(waitAllExited(*manager));
            auto broken = makeManager(QStringLiteral("/nonexistent/shell"));
            broken->start(exits);
            QCOMPARE(broken->state(exits.id).status, ServerStatus::error);
        };
        cycle(); // whatever Qt opens once for good
        if (QTest::currentTestFailed())
            return;
        // A pending forced kill keeps its run (and pidfd) until its grace has
        // passed, even when the manager has gone; after that nothing is left.
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors().filter(QStringLiteral("pidfd")).isEmpty(), Test::waitMs(10000));
        const QStringList before = openDescriptors();
        for (int i = 0; i < 3; ++i) {
            cycle();
            if (QTest::currentTestFailed())
                return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), before, Test::waitMs(10000));
    }

    void destroyingTheManagerEndsItsChildren()
    {
        auto manager = makeManager();
        const ServerConfig config
            = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("out:up"), QStringLiteral("hold") }));
        manager->start(config);
        const int pid = *manager->state(config.id).pid;
        QTRY_VERIFY_WITH_TIMEOUT(texts(manager->state(config.id)).contains(QStringLiteral("up")), Test::waitMs(5000));
        manager.reset();
        QVERIFY(processGone(pid));
    }

    void shutdownEndsEveryTree()
    {
        auto manager = makeManager();
        const ServerConfig a = Test::server(QStringLiteral("api"), childCommand({ QStringLiteral("hold") }));
        const ServerConfig b = Test::server(QStringLiteral("api"),
            childCommand({ QStringLiteral("ignore-term"), QStringLiteral("out:ready"), QStringLiteral("hold") }));
        manager->start(a);
        manager->start(b);
        // An interactive shell ignores SIGTERM until it has exec'd the command.
        QTRY_VERIFY_WITH_TIMEOUT(texts(manager->state(b.id)).contains(QStringLiteral("ready")), Test::waitMs(5000));
        QSignalSpy finished(manager.get(), &ServerManager::shutdownFinished);
        manager->shutdown(300ms);
        QVERIFY(finished.wait(Test::waitMs(10000)));
        QCOMPARE(finished.count(), 1);
        QVERIFY(!manager->anyProcessAlive());
        QCOMPARE(texts(manager->state(a.id)).last(), stopped);
        QCOMPARE(texts(manager->state(b.id)).last(), stopped);
        QCOMPARE(manager->state(b.id).lastExitCode, std::optional<qint32>(SIGKILL));
        manager->start(a); // refused once shut down
        QVERIFY(!manager->anyProcessAlive());
    }

    void stopAllSendsTerminateOnly()
    {
        auto manager = makeManager();
        const ServerConfig a = Test::server(
            QStringLiteral("api"), childCommand({ QStringLiteral("out:ready"), QStringLiteral("hold") }));
        manager->start(a);
        // An interactive shell ignores SIGTERM until it has exec'd the command.
        QTRY_VERIFY_WITH_TIMEOUT(texts(manager->state(a.id)).contains(QStringLiteral("ready")), Test::waitMs(5000));
        const ServerRuntimeState before = manager->state(a.id);
        manager->stopAll();
        QCOMPARE(manager->state(a.id), before);
        QVERIFY(waitAllExited(*manager));
        QCOMPARE(texts(manager->state(a.id)).last(), stopped);
    }
};

QTEST_GUILESS_MAIN(TestServerManager)
#include "TestServerManager.moc"
