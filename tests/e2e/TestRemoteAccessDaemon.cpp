#include "RelayProcess.h"
#include "TestController.h"
#include "TestEnvironment.h"

#include "remotekit/PairingCredential.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <memory>

using namespace Wardlamp;
using namespace Wardlamp::Test;
using namespace Qt::StringLiterals;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

// wardlampd's remote access from the terminal: the settings commands, the
// pairing key it prints (and keeps across runs), and a daemon that joins the
// relay and reports its connection state as a controller comes and goes.
class TestRemoteAccessDaemon : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_env = std::make_unique<TestEnvironment>();
        QVERIFY(m_relay.start());
    }

    void cleanupTestCase()
    {
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            if (!m_daemon.waitForFinished(waitMs(15000)))
                m_daemon.kill();
        }
    }

    void settingsCommands()
    {
        QCOMPARE(wardlampd({ u"remote"_s, u"name"_s, u"Build"_s, u"box"_s }).exitCode, 0);
        QFile passwordFile(m_env->path(u"password.txt"_s));
        QVERIFY(passwordFile.open(QIODevice::WriteOnly));
        passwordFile.write(" two words \n");
        passwordFile.close();
        QCOMPARE(wardlampd({ u"remote"_s, u"password"_s, u"--file"_s, passwordFile.fileName() }).exitCode, 0);
        QCOMPARE(wardlampd({ u"remote"_s, u"relay"_s, m_relay.url().toString() }).exitCode, 0);
        QCOMPARE(wardlampd({ u"remote"_s, u"enable"_s }).exitCode, 0);

        const Run status = wardlampd({ u"remote"_s, u"status"_s });
        QCOMPARE(status.exitCode, 0);
        QVERIFY2(status.out.contains(u"remote access: on"_s), qPrintable(status.out));
        QVERIFY(status.out.contains(u"computer name: Build box"_s));
        QVERIFY(status.out.contains(u"relay: "_s + m_relay.url().toString()));
        QVERIFY(status.out.contains(u"password: set"_s));
        // The password never shows.
        QVERIFY(!status.out.contains(u"two words"_s));
    }

    void badInputIsRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("relay not ws") << QStringList { u"remote"_s, u"relay"_s, u"http://example.org"_s };
        QTest::newRow("empty name") << QStringList { u"remote"_s, u"name"_s, u"  "_s };
        QTest::newRow("password on the command line") << QStringList { u"remote"_s, u"password"_s, u"hunter2"_s };
        QTest::newRow("missing password file")
            << QStringList { u"remote"_s, u"password"_s, u"--file"_s, u"/nonexistent/pw"_s };
        QTest::newRow("unknown verb") << QStringList { u"remote"_s, u"frobnicate"_s };
        QTest::newRow("pair with junk") << QStringList { u"pair"_s, u"--now"_s };
    }
    void badInputIsRefused()
    {
        QFETCH(QStringList, arguments);
        const Run run = wardlampd(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.startsWith(u"wardlampd: "_s));
        // Nothing changed.
        QVERIFY(wardlampd({ u"remote"_s, u"status"_s }).out.contains(u"computer name: Build box"_s));
    }

    void pairPrintsAKeyThatStays()
    {
        const Run first = wardlampd({ u"pair"_s });
        QCOMPARE(first.exitCode, 0);
        const auto key = pairingKeyIn(first.out);
        QVERIFY2(key, qPrintable(first.out));
        QCOMPARE(key->name, u"Build box"_s);
        // The QR code: rows of half blocks, all of one width.
        const QStringList rows = first.out.split(u'\n').filter(QRegularExpression(u"^[█▀▄ ]{21,}$"_s));
        QVERIFY(rows.size() > 10);
        QCOMPARE(*pairingKeyIn(wardlampd({ u"pair"_s }).out), *key);

        const Run rotated = wardlampd({ u"pair"_s, u"--rotate"_s });
        QCOMPARE(rotated.exitCode, 0);
        const auto fresh = pairingKeyIn(rotated.out);
        QVERIFY(fresh);
        QVERIFY(!(fresh->secret == key->secret));
        QCOMPARE(*pairingKeyIn(wardlampd({ u"pair"_s }).out), *fresh);
        m_credential = *fresh;
    }

    void pairWebPrintsTheRelayPageWithTheKey()
    {
        const Run web = wardlampd({ u"pair"_s, u"--web"_s });
        QCOMPARE(web.exitCode, 0);
        // The relay is ws://127.0.0.1:PORT here, so its page is http:// at the same place.
        const QString page = u"http://"_s + m_relay.url().authority() + u"/#k="_s;
        const QRegularExpressionMatch link
            = QRegularExpression(u"^"_s + QRegularExpression::escape(page) + u"(WL1\\.[A-Za-z0-9_-]+)$"_s,
                QRegularExpression::MultilineOption)
                  .match(web.out);
        QVERIFY2(link.hasMatch(), qPrintable(web.out));
        QCOMPARE(*PairingCredential::parse(link.captured(1)), *pairingKeyIn(wardlampd({ u"pair"_s }).out));
        QVERIFY(web.out.split(u'\n').filter(QRegularExpression(u"^[█▀▄ ]{21,}$"_s)).size() > 10);
    }

    void pairWebWithoutARelayExplains()
    {
        QCOMPARE(wardlampd({ u"remote"_s, u"relay"_s, u"--reset"_s }).exitCode, 0);
        const Run web = wardlampd({ u"pair"_s, u"--web"_s });
        QCOMPARE(wardlampd({ u"remote"_s, u"relay"_s, m_relay.url().toString() }).exitCode, 0);
        QCOMPARE(web.exitCode, 2);
        QVERIFY2(web.err.contains(u"no relay is set"_s), qPrintable(web.err));
        QVERIFY(!web.out.contains(u"WL1."_s));
    }

    void daemonReportsItsConnection()
    {
        QVERIFY(!m_credential.secret.isEmpty());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"WL_SEED_SERVERS"_s, u"[]"_s);
        m_daemon.setProcessEnvironment(env);
        m_daemon.setProgram(program(u"wardlampd"_s));
        m_daemon.start();
        QVERIFY(m_daemon.waitForStarted(waitMs(10000)));
        QVERIFY2(waitForDaemonLine(u"remote access: Online"_s), qPrintable(m_daemonErr));

        TestController controller(m_relay.url(), m_credential.secret, u" two words "_s);
        QVERIFY(controller.join());
        QVERIFY2(waitForDaemonLine(u"remote access: Controller connected"_s), qPrintable(m_daemonErr));
        const auto snapshot
            = controller.waitFor([](const auto& r) { return r.message.type == PeerMessage::MessageType::snapshot; });
        QVERIFY(snapshot);
        QCOMPARE(snapshot->message.snapshotRecord->macName, u"Build box"_s);
        controller.leave();
        m_daemonErr.clear();
        QVERIFY2(waitForDaemonLine(u"remote access: Online"_s), qPrintable(m_daemonErr));
        // Nothing secret on the daemon's output.
        QVERIFY(!m_daemonErr.contains(u"two words"_s));
        QVERIFY(!m_daemonErr.contains(m_credential.encoded()));
    }

    // Key changes reach the running daemon at once through its control socket:
    // a rotation moves the agent to the new key's room (a controller holding
    // the old key gets nothing more), a new password reseals, disable and
    // enable switch it, and a new name shows in the next snapshot.
    void changesTakeEffectInTheRunningDaemon()
    {
        QVERIFY(m_daemon.state() == QProcess::Running);
        const PairingCredential old = m_credential;
        QCOMPARE(controllerLs(old.encoded(), u" two words "_s).exitCode, 0);

        TestController holder(m_relay.url(), old.secret, u" two words "_s);
        QVERIFY(holder.join());
        QVERIFY(holder.waitFor([](const auto& r) { return r.message.type == PeerMessage::MessageType::snapshot; }));

        drainDaemonOutput();
        const Run rotated = wardlampd({ u"pair"_s, u"--rotate"_s });
        QCOMPARE(rotated.exitCode, 0);
        QVERIFY2(rotated.err.contains(u"the running supervisor uses it now"_s), qPrintable(rotated.err));
        const auto fresh = pairingKeyIn(rotated.out);
        QVERIFY(fresh);
        QVERIFY(!(fresh->secret == old.secret));
        QVERIFY2(waitForReconnection(), qPrintable(m_daemonErr));
        const qsizetype heldBefore = holder.received().size();

        // The new key reaches the daemon; the old one finds nobody.
        QCOMPARE(controllerLs(fresh->encoded(), u" two words "_s).exitCode, 0);
        holder.send(PeerMessage::requestSnapshot());
        TestController current(m_relay.url(), fresh->secret, u" two words "_s);
        QVERIFY(current.join());
        current.send(PeerMessage::requestSnapshot());
        QVERIFY(current.waitFor([](const auto& r) { return r.message.type == PeerMessage::MessageType::snapshot; }));
        QTest::qWait(waitMs(500));
        QCOMPARE(holder.received().size(), heldBefore);
        QCOMPARE(controllerLs(old.encoded(), u" two words "_s).exitCode, 5);
        holder.leave();
        current.leave();

        // A stop sent with the old key against a running server is not run:
        // the server keeps its process. The new key stops it.
        QCOMPARE(wardlampd({ u"add"_s, u"keeper"_s, u"--"_s, u"sleep"_s, u"100000"_s }).exitCode, 0);
        QCOMPARE(wardlampd({ u"start"_s, u"keeper"_s }).exitCode, 0);
        const std::optional<qint64> pid = runningPid(u"keeper"_s);
        QVERIFY(pid);
        const Run oldStop = controller(old.encoded(), u" two words "_s, { u"stop"_s, u"keeper"_s });
        QCOMPARE(oldStop.exitCode, 5);
        QTest::qWait(waitMs(500));
        QCOMPARE(runningPid(u"keeper"_s), pid);
        const Run freshStop = controller(fresh->encoded(), u" two words "_s, { u"stop"_s, u"keeper"_s });
        QVERIFY2(freshStop.exitCode == 0, qPrintable(freshStop.err));
        QTRY_VERIFY_WITH_TIMEOUT(!runningPid(u"keeper"_s), waitMs(15000));
        QCOMPARE(wardlampd({ u"rm"_s, u"keeper"_s }).exitCode, 0);

        // A new password: the old one opens nothing any more.
        QFile passwordFile(m_env->path(u"password-2.txt"_s));
        QVERIFY(passwordFile.open(QIODevice::WriteOnly));
        passwordFile.write("other\n");
        passwordFile.close();
        drainDaemonOutput();
        const Run password = wardlampd({ u"remote"_s, u"password"_s, u"--file"_s, passwordFile.fileName() });
        QCOMPARE(password.exitCode, 0);
        QVERIFY2(waitForReconnection(), qPrintable(m_daemonErr));
        QCOMPARE(controllerLs(fresh->encoded(), u" two words "_s).exitCode, 6);
        QCOMPARE(controllerLs(fresh->encoded(), u"other"_s).exitCode, 0);

        drainDaemonOutput();
        QCOMPARE(wardlampd({ u"remote"_s, u"disable"_s }).exitCode, 0);
        QVERIFY2(waitForDaemonLine(u"remote access: Off"_s), qPrintable(m_daemonErr));
        QCOMPARE(controllerLs(fresh->encoded(), u"other"_s).exitCode, 5);

        drainDaemonOutput();
        QCOMPARE(wardlampd({ u"remote"_s, u"enable"_s }).exitCode, 0);
        QVERIFY2(waitForReconnection(), qPrintable(m_daemonErr));
        QCOMPARE(wardlampd({ u"remote"_s, u"name"_s, u"Renamed"_s, u"box"_s }).exitCode, 0);
        const Run listed = controllerLs(fresh->encoded(), u"other"_s);
        QCOMPARE(listed.exitCode, 0);
        QVERIFY2(listed.out.startsWith(u"Renamed box: 0 server(s)"_s), qPrintable(listed.out));
        m_credential = *fresh;
    }

private:
    Run wardlampd(const QStringList& arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        process.setProcessEnvironment(env);
        process.start(program(u"wardlampd"_s), arguments);
        process.closeWriteChannel();
        process.waitForFinished(waitMs(30000));
        return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError()) };
    }

    // wardlamp-remote ls with a key and a password, as a user would run it.
    Run controllerLs(const QString& key, const QString& password) { return controller(key, password, { u"ls"_s }); }

    // The pid of a server the running daemon says is running.
    std::optional<qint64> runningPid(const QString& name)
    {
        const Run listed = wardlampd({ u"ls"_s, u"--json"_s });
        const QJsonDocument document = QJsonDocument::fromJson(listed.out.toUtf8());
        const QJsonArray servers
            = document.isArray() ? document.array() : document.object().value(u"servers"_s).toArray();
        for (const QJsonValue value : servers) {
            const QJsonObject server = value.toObject();
            if (server.value(u"name"_s).toString() == name && server.value(u"status"_s).toString() == u"running"_s
                && server.contains(u"pid"_s))
                return qint64(server.value(u"pid"_s).toDouble());
        }
        return std::nullopt;
    }

    // A wardlamp-remote command with a key and a password, as a user would run it.
    Run controller(const QString& key, const QString& password, QStringList arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"WL_REMOTE_KEY"_s, key);
        env.insert(u"WL_REMOTE_PASSWORD"_s, password);
        env.insert(u"WL_RELAY_URL"_s, m_relay.url().toString());
        process.setProcessEnvironment(env);
        arguments += { u"--timeout"_s, u"5"_s };
        process.start(program(u"wardlamp-remote"_s), arguments);
        process.closeWriteChannel();
        process.waitForFinished(waitMs(30000));
        return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError()) };
    }

    static std::optional<PairingCredential> pairingKeyIn(const QString& out)
    {
        const QRegularExpressionMatch match
            = QRegularExpression(u"^WL1\\.[A-Za-z0-9_-]+$"_s, QRegularExpression::MultilineOption).match(out);
        return match.hasMatch() ? PairingCredential::parse(match.captured()) : std::nullopt;
    }

    // Forgets what the daemon has said so far (its pipe included).
    void drainDaemonOutput()
    {
        m_daemon.readAllStandardError();
        m_daemon.readAllStandardOutput();
        m_daemonErr.clear();
    }

    // The agent left its room and is back online in the new one.
    bool waitForReconnection()
    {
        if (!waitForDaemonLine(u"remote access: Connecting"_s))
            return false;
        m_daemonErr = m_daemonErr.mid(m_daemonErr.indexOf(u"remote access: Connecting"_s));
        return waitForDaemonLine(u"remote access: Online"_s);
    }

    bool waitForDaemonLine(const QString& line)
    {
        return QTest::qWaitFor(
            [&] {
                m_daemonErr += QString::fromUtf8(m_daemon.readAllStandardError());
                m_daemon.readAllStandardOutput();
                return m_daemonErr.contains(line);
            },
            waitMs(20000));
    }

    std::unique_ptr<TestEnvironment> m_env;
    RelayProcess m_relay;
    QProcess m_daemon;
    QString m_daemonErr;
    PairingCredential m_credential;
};

QTEST_GUILESS_MAIN(TestRemoteAccessDaemon)
#include "TestRemoteAccessDaemon.moc"
