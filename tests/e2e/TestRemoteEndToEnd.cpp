#include "RelayProcess.h"
#include "TestEnvironment.h"

#include "remotekit/PairingCredential.h"
#include "remotekit/RemoteCrypto.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QUuid>

#include <memory>

using namespace Wardlamp;
using namespace Qt::Literals::StringLiterals;
using Wardlamp::Test::RelayProcess;
using Wardlamp::Test::waitMs;

namespace {
struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};
} // namespace

// The whole remote path with nothing scripted: a server supervised by wardlampd,
// its agent in the relay room of the pairing secret, and wardlamp-remote as the
// phone, listing, reading logs and stopping/starting through the relay with a
// password on both sides.
class TestRemoteEndToEnd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void listsTheSupervisedServer();
    void readsItsLog();
    void stopsAndStartsIt();
    void wrongPasswordIsNamed();
    void desktopGoneIsOffline();

private:
    Result remote(const QStringList& arguments, const QString& password = u"e2e password"_s);
    // Runs `ls --json` until `accept` holds for the server, or the wait ends.
    bool waitForServer(const std::function<bool(const QJsonObject&)>& accept);

    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
    RelayProcess m_relay;
    QProcess m_daemon;
    QString m_key;
    const QUuid m_serverId = QUuid::createUuid();
};

void TestRemoteEndToEnd::initTestCase()
{
    m_env = std::make_unique<Wardlamp::Test::TestEnvironment>();
    QVERIFY2(m_relay.start(), qPrintable(m_relay.errorText()));

    PairingCredential credential;
    credential.name = u"e2e-desk"_s;
    credential.secret = *RemoteCrypto::randomSecret(PairingCredential::secretSize);
    m_key = credential.encoded();

    const QJsonArray servers { QJsonObject {
        { u"id"_s, m_serverId.toString(QUuid::WithoutBraces).toUpper() },
        { u"name"_s, u"api"_s },
        { u"command"_s, u"sh -c 'echo hello-from-api; while :; do sleep 1; done'"_s },
        { u"autostart"_s, true },
        { u"errorAlertEnabled"_s, false },
    } };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"SHELL"_s, u"/bin/bash"_s);
    env.insert(u"WL_SEED_SERVERS"_s, QString::fromUtf8(QJsonDocument(servers).toJson(QJsonDocument::Compact)));
    env.insert(u"WL_REMOTE_ENABLED"_s, u"1"_s);
    env.insert(u"WL_REMOTE_SECRET"_s, QString::fromLatin1(credential.secret.revealBytes().toHex()));
    env.insert(u"WL_REMOTE_PASSWORD"_s, u"e2e password"_s);
    env.insert(u"WL_REMOTE_MACNAME"_s, u"e2e-desk"_s);
    env.insert(u"WL_RELAY_URL"_s, m_relay.url().toString());
    m_daemon.setProcessEnvironment(env);
    m_daemon.setProgram(Wardlamp::Test::program(u"wardlampd"_s));
    m_daemon.setStandardOutputFile(QProcess::nullDevice());
    m_daemon.setStandardErrorFile(QProcess::nullDevice());
    m_daemon.start();
    QVERIFY(m_daemon.waitForStarted(waitMs(10000)));
}

void TestRemoteEndToEnd::cleanupTestCase()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(waitMs(15000)))
            m_daemon.kill();
    }
}

Result TestRemoteEndToEnd::remote(const QStringList& arguments, const QString& password)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"WL_REMOTE_KEY"_s, m_key);
    env.insert(u"WL_RELAY_URL"_s, m_relay.url().toString());
    env.insert(u"WL_REMOTE_PASSWORD"_s, password);
    process.setProcessEnvironment(env);
    process.start(Wardlamp::Test::program(u"wardlamp-remote"_s), arguments);
    process.closeWriteChannel();
    // No event loop work of ours is needed here: every party is its own process.
    process.waitForFinished(waitMs(60000));
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError()) };
}

bool TestRemoteEndToEnd::waitForServer(const std::function<bool(const QJsonObject&)>& accept)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < waitMs(60000)) {
        const Result ls = remote({ u"ls"_s, u"--json"_s });
        if (ls.exitCode == 0) {
            const QJsonArray servers = QJsonDocument::fromJson(ls.out.toUtf8()).object().value(u"servers"_s).toArray();
            for (const QJsonValue& server : servers) {
                if (server.toObject().value(u"id"_s).toString() == m_serverId.toString(QUuid::WithoutBraces).toUpper()
                    && accept(server.toObject()))
                    return true;
            }
        }
        QTest::qWait(200);
    }
    return false;
}

void TestRemoteEndToEnd::listsTheSupervisedServer()
{
    // The daemon needs a moment to start its server and join the room.
    QVERIFY(waitForServer([](const QJsonObject& server) {
        return server.value(u"status"_s).toString() == u"running" && server.value(u"pid"_s).toInt() > 0;
    }));
    const Result ls = remote({ u"ls"_s });
    QCOMPARE(ls.exitCode, 0);
    QVERIFY2(ls.out.startsWith(u"e2e-desk: 1 server(s)"_s), qPrintable(ls.out));
    QVERIFY(ls.out.contains(u"running"_s));
}

void TestRemoteEndToEnd::readsItsLog()
{
    const Result logs = remote({ u"logs"_s, u"api"_s });
    QVERIFY2(logs.exitCode == 0, qPrintable(logs.err));
    QVERIFY2(logs.out.contains(u"hello-from-api"_s), qPrintable(logs.out));
}

void TestRemoteEndToEnd::stopsAndStartsIt()
{
    const Result stop = remote({ u"stop"_s, u"api"_s });
    QVERIFY2(stop.exitCode == 0, qPrintable(stop.err));
    QVERIFY(stop.out.contains(u"api: stop acknowledged"_s));
    QVERIFY(
        waitForServer([](const QJsonObject& server) { return server.value(u"status"_s).toString() == u"stopped"; }));

    const Result start = remote({ u"start"_s, m_serverId.toString(QUuid::WithoutBraces) });
    QVERIFY2(start.exitCode == 0, qPrintable(start.err));
    QVERIFY(
        waitForServer([](const QJsonObject& server) { return server.value(u"status"_s).toString() == u"running"; }));
}

void TestRemoteEndToEnd::wrongPasswordIsNamed()
{
    const Result ls = remote({ u"ls"_s }, u"not the password"_s);
    QCOMPARE(ls.exitCode, 6);
    QVERIFY2(ls.err.contains(u"the password is wrong"_s), qPrintable(ls.err));
}

void TestRemoteEndToEnd::desktopGoneIsOffline()
{
    m_daemon.terminate();
    QVERIFY(m_daemon.waitForFinished(waitMs(20000)));
    const Result ls = remote({ u"ls"_s });
    QCOMPARE(ls.exitCode, 5);
    QVERIFY2(ls.err.contains(u"offline"_s), qPrintable(ls.err));
}

QTEST_GUILESS_MAIN(TestRemoteEndToEnd)
#include "TestRemoteEndToEnd.moc"
