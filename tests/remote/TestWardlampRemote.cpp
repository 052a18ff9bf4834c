#include "RelayProcess.h"
#include "ScriptedAgent.h"
#include "TestEnvironment.h"

#include "remotekit/PairingCredential.h"
#include "remotekit/RemoteCrypto.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>

#include <memory>

#include <csignal>

using namespace Wardlamp;
using namespace Qt::Literals::StringLiterals;
using Wardlamp::Test::RelayProcess;
using Wardlamp::Test::ScriptedAgent;
using Wardlamp::Test::waitMs;

namespace {
const QUuid apiId = QUuid::fromString(u"1b4e28ba-2fa1-11d2-883f-0016d3cca427"_s);
const QUuid webId = QUuid::fromString(u"2b4e28ba-2fa1-11d2-883f-0016d3cca427"_s);
const QUuid dupOneId = QUuid::fromString(u"3b4e28ba-2fa1-11d2-883f-0016d3cca427"_s);
const QUuid dupTwoId = QUuid::fromString(u"4b4e28ba-2fa1-11d2-883f-0016d3cca427"_s);

WireServer server(const QUuid& id, const QString& name, WireStatus status)
{
    WireServer s;
    s.id = id;
    s.name = name;
    s.command = u"bun server.js"_s;
    s.status = status;
    if (status == WireStatus::running) {
        s.pid = 4242;
        s.startedAt = WireTime::fromDateTime(QDateTime::currentDateTimeUtc().addSecs(-65));
    }
    return s;
}

// A stand-in relay that only accepts connections and records the close code each
// one ended with (a connection that just drops leaves Qt's default, 1000).
class RecordingRelay : public QObject {
public:
    RecordingRelay()
        : server(u"recording"_s, QWebSocketServer::NonSecureMode)
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* socket = server.nextPendingConnection()) {
                socket->setParent(&server);
                ++connections;
                QObject::connect(socket, &QWebSocket::textMessageReceived, this, [this] { ++messages; });
                QObject::connect(socket, &QWebSocket::disconnected, this,
                    [this, socket] { closeCodes.append(int(socket->closeCode())); });
            }
        });
    }
    ~RecordingRelay() override
    {
        QObject::disconnect(&server, nullptr, this, nullptr);
        for (QWebSocket* socket : server.findChildren<QWebSocket*>())
            QObject::disconnect(socket, nullptr, this, nullptr);
    }

    QUrl url() const { return QUrl(u"ws://127.0.0.1:%1"_s.arg(server.serverPort())); }

    QWebSocketServer server;
    int connections = 0;
    int messages = 0;
    QList<int> closeCodes;
};

// One wardlamp-remote run. The scripted agent lives in this process, so the test
// never blocks on the child: it waits with QTRY while the event loop runs.
struct RemoteRun {
    QProcess process;
    QByteArray out;
    QByteArray err;

    bool finished() const { return process.state() == QProcess::NotRunning; }
    QString stdoutText()
    {
        out += process.readAllStandardOutput();
        return QString::fromUtf8(out);
    }
    QString stderrText()
    {
        err += process.readAllStandardError();
        return QString::fromUtf8(err);
    }
};
} // namespace

class TestWardlampRemote : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void listsServers();
    void listsServersAsJson();
    void logsBacklog_data();
    void logsBacklog();
    void logsFollow();
    void commands_data();
    void commands();
    void watchPrintsAnnouncements();
    void interruptClosesWithGoingAway_data();
    void interruptClosesWithGoingAway();
    void interruptWhileFollowingLeavesTheRoom();
    void interruptWithFrozenRelayExitsWithinBound();
    void badKey();
    void keyFromFile();
    void wrongPassword_data();
    void wrongPassword();
    void desktopOffline();
    void relayUnreachable();
    void usageErrors_data();
    void usageErrors();

private:
    std::unique_ptr<RemoteRun> run(const QStringList& arguments, const QStringList& environment = {});
    bool waitFinished(RemoteRun& run, int ms = 30000);
    void startAgent(const std::optional<QString>& password = std::nullopt);

    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
    std::unique_ptr<RelayProcess> m_relay;
    std::unique_ptr<ScriptedAgent> m_agent;
    std::optional<PairingCredential> m_credential;
};

void TestWardlampRemote::initTestCase()
{
    m_env = std::make_unique<Wardlamp::Test::TestEnvironment>();
}

void TestWardlampRemote::init()
{
    m_relay = std::make_unique<RelayProcess>();
    QVERIFY2(m_relay->start(), qPrintable(m_relay->errorText()));
    m_credential = PairingCredential::generate(u"desk"_s);
    QVERIFY(m_credential);
}

void TestWardlampRemote::cleanup()
{
    m_agent.reset();
    m_relay.reset();
}

void TestWardlampRemote::startAgent(const std::optional<QString>& password)
{
    m_agent = std::make_unique<ScriptedAgent>(m_relay->url(), m_credential->secret, password);
    m_agent->snapshot.macName = u"desk"_s;
    m_agent->snapshot.servers
        = { server(apiId, u"api"_s, WireStatus::running), server(webId, u"web"_s, WireStatus::stopped),
              server(dupOneId, u"dup"_s, WireStatus::stopped), server(dupTwoId, u"dup"_s, WireStatus::error) };
    for (int i = 1; i <= 5; ++i) {
        m_agent->logs[apiId].append({ QUuid::createUuid(),
            WireTime::fromDateTime(QDateTime::currentDateTimeUtc().addSecs(i - 10)), u"line %1"_s.arg(i), i == 3 });
    }
    m_agent->refused.insert(webId);
    m_agent->start();
    QTRY_VERIFY_WITH_TIMEOUT(m_agent->isOpen(), waitMs(10000));
}

std::unique_ptr<RemoteRun> TestWardlampRemote::run(const QStringList& arguments, const QStringList& environment)
{
    auto result = std::make_unique<RemoteRun>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : { u"WL_REMOTE_KEY"_s, u"WL_REMOTE_PASSWORD"_s, u"WL_RELAY_URL"_s })
        env.remove(name);
    env.insert(u"WL_REMOTE_KEY"_s, m_credential->encoded());
    env.insert(u"WL_RELAY_URL"_s, m_relay->url().toString());
    for (const QString& pair : environment) {
        if (pair.contains(u'='))
            env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
        else
            env.remove(pair);
    }
    result->process.setProcessEnvironment(env);
    result->process.setProgram(Wardlamp::Test::program(u"wardlamp-remote"_s));
    result->process.setArguments(arguments);
    result->process.start();
    result->process.closeWriteChannel();
    return result;
}

bool TestWardlampRemote::waitFinished(RemoteRun& run, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!run.finished() && timer.elapsed() < waitMs(ms))
        QTest::qWait(20);
    run.stdoutText();
    run.stderrText();
    return run.finished();
}

void TestWardlampRemote::listsServers()
{
    startAgent();
    auto ls = run({ u"ls"_s });
    QVERIFY(waitFinished(*ls));
    QVERIFY2(ls->process.exitCode() == 0, qPrintable(ls->stderrText()));
    const QStringList lines = ls->stdoutText().split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.at(0), u"desk: 4 server(s)"_s);
    QVERIFY(lines.at(1).startsWith(u"NAME"_s));
    QVERIFY2(lines.at(2).simplified().startsWith(u"api running 4242 1m 0"_s), qPrintable(lines.at(2)));
    QVERIFY(lines.at(2).endsWith(u"1B4E28BA-2FA1-11D2-883F-0016D3CCA427"_s));
    QVERIFY(lines.at(3).simplified().startsWith(u"web stopped - -"_s));
}

void TestWardlampRemote::listsServersAsJson()
{
    startAgent();
    auto ls = run({ u"ls"_s, u"--json"_s });
    QVERIFY(waitFinished(*ls));
    QVERIFY2(ls->process.exitCode() == 0, qPrintable(ls->stderrText()));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(ls->out, &error);
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    const QJsonArray servers = document.object().value(u"servers"_s).toArray();
    QCOMPARE(servers.size(), 4);
    const QJsonObject api = servers.at(0).toObject();
    QCOMPARE(api.value(u"name"_s).toString(), u"api"_s);
    QCOMPARE(api.value(u"status"_s).toString(), u"running"_s);
    QCOMPARE(api.value(u"pid"_s).toInt(), 4242);
    QVERIFY(api.value(u"uptimeSeconds"_s).toInt() >= 64);
    QVERIFY(!servers.at(1).toObject().contains(u"pid"_s));
}

void TestWardlampRemote::logsBacklog_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("default shows all five") << QStringList { u"logs"_s,
        u"api"_s } << QStringList { u"  line 1"_s, u"  line 2"_s, u"! line 3"_s, u"  line 4"_s, u"  line 5"_s };
    QTest::newRow("-n 2") << QStringList { u"logs"_s, u"api"_s, u"-n"_s, u"2"_s }
                          << QStringList { u"  line 4"_s, u"  line 5"_s };
    QTest::newRow("-n 0") << QStringList { u"logs"_s, u"-n"_s, u"0"_s, u"api"_s } << QStringList();
    QTest::newRow("server without lines") << QStringList { u"logs"_s, u"web"_s } << QStringList();
}

void TestWardlampRemote::logsBacklog()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);
    startAgent();
    auto logs = run(arguments);
    QVERIFY(waitFinished(*logs));
    QVERIFY2(logs->process.exitCode() == 0, qPrintable(logs->stderrText()));
    const QStringList lines = logs->stdoutText().split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i) {
        // "HH:mm:ss" then the marker and the text.
        QCOMPARE(lines.at(i).mid(8), expected.at(i));
    }
}

void TestWardlampRemote::logsFollow()
{
    startAgent();
    auto logs = run({ u"logs"_s, u"api"_s, u"-f"_s, u"-n"_s, u"1"_s });
    QTRY_VERIFY_WITH_TIMEOUT(logs->stdoutText().contains(u"line 5"_s), waitMs(20000));
    QVERIFY(!logs->stdoutText().contains(u"line 4"_s));
    QTRY_VERIFY_WITH_TIMEOUT(m_agent->controllerCount() == 1, waitMs(10000));
    m_agent->appendLine(apiId, u"live 6"_s);
    m_agent->appendLine(webId, u"other server"_s);
    m_agent->appendLine(apiId, u"live 7"_s, true);
    QTRY_VERIFY_WITH_TIMEOUT(logs->stdoutText().contains(u"live 7"_s), waitMs(20000));
    const QStringList lines = logs->stdoutText().split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(1).mid(8), u"  live 6"_s);
    QCOMPARE(lines.at(2).mid(8), u"! live 7"_s);
    QVERIFY(!logs->finished());
    logs->process.terminate();
    QVERIFY(waitFinished(*logs));
}

void TestWardlampRemote::commands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QUuid>("serverId"); // null: no command reaches the agent
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("output");
    QTest::newRow("stop by name") << QStringList { u"stop"_s, u"api"_s } << 0 << apiId << int(CommandAction::stop)
                                  << u"api: stop acknowledged"_s;
    QTest::newRow("restart by lower-case id") << QStringList { u"restart"_s, apiId.toString(QUuid::WithoutBraces) } << 0
                                              << apiId << int(CommandAction::restart) << u"api: restart acknowledged"_s;
    QTest::newRow("clear") << QStringList { u"clear"_s, u"API"_s } << 0 << apiId << int(CommandAction::clearLogs)
                           << u"api: clear acknowledged"_s;
    QTest::newRow("start refused by the desktop")
        << QStringList { u"start"_s, u"web"_s } << 1 << webId << int(CommandAction::start)
        << u"refused to start web: not allowed"_s;
    QTest::newRow("unknown server") << QStringList { u"stop"_s, u"db"_s } << 7 << QUuid() << 0
                                    << u"desk has no server \"db\"; its servers: api, web, dup, dup"_s;
    QTest::newRow("ambiguous name") << QStringList { u"start"_s, u"dup"_s } << 7 << QUuid() << 0
                                    << u"names more than one server"_s;
}

void TestWardlampRemote::commands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QUuid, serverId);
    QFETCH(int, action);
    QFETCH(QString, output);
    startAgent();
    auto command = run(arguments);
    QVERIFY(waitFinished(*command));
    QVERIFY2(command->process.exitCode() == exitCode, qPrintable(command->stderrText()));
    QVERIFY2(QString(command->stdoutText() + command->stderrText()).contains(output),
        qPrintable(command->stdoutText() + command->stderrText()));
    QList<PeerMessage> commands;
    for (const PeerMessage& message : m_agent->received) {
        if (message.type == PeerMessage::MessageType::command)
            commands.append(message);
    }
    if (serverId.isNull()) {
        QCOMPARE(commands.size(), 0);
    } else {
        QCOMPARE(commands.size(), 1);
        QCOMPARE(commands.first().serverId, serverId);
        QCOMPARE(int(*commands.first().action), action);
    }
}

void TestWardlampRemote::watchPrintsAnnouncements()
{
    startAgent();
    auto watch = run({ u"watch"_s });
    QTRY_VERIFY_WITH_TIMEOUT(m_agent->controllerCount() == 1, waitMs(20000));
    m_agent->announce(apiId, u"api: running → error"_s);
    m_agent->announce(webId, u"web: stopped → running"_s);
    QTRY_VERIFY_WITH_TIMEOUT(watch->stdoutText().contains(u"web: stopped → running"_s), waitMs(20000));
    const QStringList lines = watch->stdoutText().split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0).mid(8), u"  api: running → error"_s);

    // The desktop going away is told, and watching goes on.
    m_agent.reset();
    QTRY_VERIFY_WITH_TIMEOUT(watch->stderrText().contains(u"the desktop is offline"_s), waitMs(20000));
    QVERIFY(!watch->finished());
    watch->process.terminate();
    QVERIFY(waitFinished(*watch));
}

void TestWardlampRemote::interruptClosesWithGoingAway_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("watch, Ctrl-C") << QStringList { u"watch"_s } << SIGINT << 130;
    QTest::newRow("watch, SIGTERM") << QStringList { u"watch"_s } << SIGTERM << 143;
    QTest::newRow("logs -f, Ctrl-C while waiting for the desktop")
        << QStringList { u"logs"_s, u"api"_s, u"-f"_s, u"--timeout"_s, u"120"_s } << SIGINT << 130;
}

// Ended by a signal, wardlamp-remote leaves the relay with a close frame saying
// "going away" (1001) rather than dropping the connection, and exits 128 + signal.
void TestWardlampRemote::interruptClosesWithGoingAway()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, signalNumber);
    QFETCH(int, exitCode);
    RecordingRelay relay;
    auto remote = run(arguments, { u"WL_RELAY_URL="_s + relay.url().toString() });
    QTRY_COMPARE_WITH_TIMEOUT(relay.connections, 1, waitMs(20000));
    // Past the handshake on its side too, so the signal finds an open connection:
    // watch says so, logs asks for a snapshot.
    if (arguments.first() == u"watch"_s)
        QTRY_VERIFY_WITH_TIMEOUT(remote->stderrText().contains(u"connected to the relay"_s), waitMs(20000));
    else
        QTRY_COMPARE_WITH_TIMEOUT(relay.messages, 1, waitMs(20000));
    QVERIFY(!remote->finished());
    QCOMPARE(::kill(pid_t(remote->process.processId()), signalNumber), 0);
    QVERIFY(waitFinished(*remote, 10000));
    QCOMPARE(remote->process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(remote->process.exitCode(), exitCode);
    QTRY_COMPARE_WITH_TIMEOUT(relay.closeCodes.size(), 1, waitMs(10000));
    QCOMPARE(relay.closeCodes.first(), int(QWebSocketProtocol::CloseCodeGoingAway));
    QVERIFY2(!remote->stderrText().contains(u"lost"_s), qPrintable(remote->stderrText()));
}

// Against the real relay and a desktop: the desktop hears the controller leave.
void TestWardlampRemote::interruptWhileFollowingLeavesTheRoom()
{
    startAgent();
    auto logs = run({ u"logs"_s, u"api"_s, u"-f"_s, u"-n"_s, u"2"_s });
    QTRY_VERIFY_WITH_TIMEOUT(logs->stdoutText().contains(u"line 5"_s), waitMs(20000));
    QTRY_COMPARE_WITH_TIMEOUT(m_agent->controllerCount(), 1, waitMs(10000));
    QCOMPARE(::kill(pid_t(logs->process.processId()), SIGINT), 0);
    QVERIFY(waitFinished(*logs, 10000));
    QCOMPARE(logs->process.exitCode(), 130);
    QTRY_COMPARE_WITH_TIMEOUT(m_agent->controllerCount(), 0, waitMs(10000));
    // What was printed stays whole.
    const QStringList lines = logs->stdoutText().split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(1).mid(8), u"  line 5"_s);
}

// A relay that no longer reads cannot hold the exit up beyond the bound; the close
// frame waits in the kernel and reaches the relay once it runs again.
void TestWardlampRemote::interruptWithFrozenRelayExitsWithinBound()
{
    startAgent();
    auto watch = run({ u"watch"_s });
    QTRY_COMPARE_WITH_TIMEOUT(m_agent->controllerCount(), 1, waitMs(20000));
    QTRY_VERIFY_WITH_TIMEOUT(watch->stderrText().contains(u"connected to the relay"_s), waitMs(20000));
    m_relay->pause();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::kill(pid_t(watch->process.processId()), SIGINT), 0);
    const bool finished = waitFinished(*watch, 10000);
    const qint64 elapsed = clock.elapsed();
    m_relay->resume();
    QVERIFY(finished);
    QCOMPARE(watch->process.exitCode(), 130);
    QVERIFY2(elapsed < 1000 + waitMs(3000), qPrintable(QString::number(elapsed)));
    QTRY_COMPARE_WITH_TIMEOUT(m_agent->controllerCount(), 0, waitMs(10000));
}

void TestWardlampRemote::badKey()
{
    startAgent();
    auto ls = run({ u"ls"_s }, { u"WL_REMOTE_KEY=WL1.not-a-key"_s });
    QVERIFY(waitFinished(*ls));
    QCOMPARE(ls->process.exitCode(), 3);
    QVERIFY2(ls->stderrText().contains(u"pairing key is not valid"_s), qPrintable(ls->stderrText()));
    QVERIFY(m_agent->received.isEmpty());
}

void TestWardlampRemote::keyFromFile()
{
    startAgent();
    QTemporaryDir dir;
    QFile file(dir.filePath(u"key"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(m_credential->encoded().toUtf8() + "\n");
    file.close();
    auto ls = run({ u"ls"_s, u"--key-file"_s, file.fileName() }, { u"WL_REMOTE_KEY"_s });
    QVERIFY(waitFinished(*ls));
    QVERIFY2(ls->process.exitCode() == 0, qPrintable(ls->stderrText()));
    QVERIFY(ls->stdoutText().startsWith(u"desk: 4 server(s)"_s));
}

void TestWardlampRemote::wrongPassword_data()
{
    QTest::addColumn<QString>("desktopPassword");
    QTest::addColumn<QStringList>("environment");
    QTest::newRow("different password") << u"right"_s << QStringList { u"WL_REMOTE_PASSWORD=wrong"_s };
    QTest::newRow("desktop has one, none given") << u"right"_s << QStringList();
    QTest::newRow("desktop has none, one given") << QString() << QStringList { u"WL_REMOTE_PASSWORD=extra"_s };
}

void TestWardlampRemote::wrongPassword()
{
    QFETCH(QString, desktopPassword);
    QFETCH(QStringList, environment);
    startAgent(desktopPassword.isEmpty() ? std::nullopt : std::optional<QString>(desktopPassword));
    auto ls = run({ u"ls"_s }, environment);
    QVERIFY(waitFinished(*ls));
    QCOMPARE(ls->process.exitCode(), 6);
    QVERIFY2(ls->stderrText().contains(u"the password is wrong"_s), qPrintable(ls->stderrText()));
    QVERIFY(ls->stdoutText().isEmpty());
}

void TestWardlampRemote::desktopOffline()
{
    auto ls = run({ u"stop"_s, u"api"_s });
    QVERIFY(waitFinished(*ls));
    QCOMPARE(ls->process.exitCode(), 5);
    QVERIFY2(ls->stderrText().contains(u"the desktop is offline"_s), qPrintable(ls->stderrText()));
}

void TestWardlampRemote::relayUnreachable()
{
    const quint16 closedPort = Wardlamp::Test::freeTcpPort();
    auto ls = run({ u"ls"_s, u"--timeout"_s, u"2"_s }, { u"WL_RELAY_URL=ws://127.0.0.1:%1"_s.arg(closedPort) });
    QVERIFY(waitFinished(*ls));
    QCOMPARE(ls->process.exitCode(), 4);
    QVERIFY2(ls->stderrText().contains(u"cannot reach the relay"_s), qPrintable(ls->stderrText()));
}

void TestWardlampRemote::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("help") << QStringList { u"--help"_s } << QStringList() << 0 << u"Exit status:"_s;
    QTest::newRow("command help") << QStringList { u"logs"_s, u"--help"_s } << QStringList() << 0
                                  << u"Usage: wardlamp-remote logs SERVER"_s;
    QTest::newRow("no command") << QStringList() << QStringList() << 2 << u"no command given"_s;
    QTest::newRow("password on the command line") << QStringList { u"ls"_s, u"--password"_s, u"x"_s } << QStringList()
                                                  << 2 << u"never taken from the command line"_s;
    QTest::newRow("no key") << QStringList { u"ls"_s } << QStringList { u"WL_REMOTE_KEY"_s } << 2
                            << u"no pairing key"_s;
    QTest::newRow("key on the command line") << QStringList { u"ls"_s, u"--key"_s, u"WL1.AAAA"_s } << QStringList() << 2
                                             << u"the pairing key is never taken from the command line"_s;
    QTest::newRow("missing key file") << QStringList { u"ls"_s, u"--key-file"_s, u"/nonexistent/key"_s }
                                      << QStringList() << 2 << u"cannot read the key file"_s;
    QTest::newRow("missing password file") << QStringList { u"ls"_s, u"--password-file"_s, u"/nonexistent/pw"_s }
                                           << QStringList() << 2 << u"cannot read the password file"_s;
}

void TestWardlampRemote::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    auto remote = run(arguments, environment);
    QVERIFY(waitFinished(*remote));
    QCOMPARE(remote->process.exitCode(), exitCode);
    QVERIFY2(QString(remote->stdoutText() + remote->stderrText()).contains(output), qPrintable(remote->stderrText()));
}

QTEST_GUILESS_MAIN(TestWardlampRemote)
#include "TestWardlampRemote.moc"
