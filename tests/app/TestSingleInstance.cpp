// One Wardlamp per configuration, with the real programs: a second launch of
// wardlamp hands its request to the first and exits, wardlamp and wardlampd
// refuse each other naming the other's pid, --quit ends the app the orderly
// way, and a lock left by a killed app does not block the next one.
#include "../ui/UiFixture.h"
#include "TestEnvironment.h"
#include "supervision/ServerConfig.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using Wardlamp::Test::waitMs;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A launched program; its standard error is collected as it comes.
struct Launch {
    QProcess process;
    QByteArray err;

    void start(const QString& program, const QStringList& arguments)
    {
        QObject::connect(
            &process, &QProcess::readyReadStandardError, [this] { err += process.readAllStandardError(); });
        process.start(Test::program(program), arguments);
    }
    bool finish(int baseMs = 20000)
    {
        const bool done = process.waitForFinished(waitMs(baseMs));
        err += process.readAllStandardError();
        return done;
    }
};

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_environment = std::make_unique<Test::TestEnvironment>();
        qputenv("SHELL", "/bin/sh");
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    void init()
    {
        m_term = m_environment->path(u"term-%1"_s.arg(++m_counter));
        const ServerConfig server = Test::serverRecord(u"api"_s,
            u"trap 'echo term > %1; exit 0' TERM; echo ready > %1.ready; while :; do sleep 0.05; done"_s.arg(m_term),
            true);
        qputenv("WL_SEED_SERVERS", ServerConfig::encodeList({ server }));
    }

    void secondLaunchHandsOverAndQuitIsOrderly()
    {
        Launch first;
        first.start(u"wardlamp"_s, {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_term + u".ready"_s), waitMs(30000));
        QTRY_VERIFY_WITH_TIMEOUT(first.err.contains("no system tray"), waitMs(10000));

        for (const QStringList& arguments : { QStringList {}, QStringList { u"--show"_s, u"logs"_s },
                 QStringList { u"--show"_s, u"settings"_s }, QStringList { u"--show=panel"_s } }) {
            Launch second;
            second.start(u"wardlamp"_s, arguments);
            QVERIFY(second.finish());
            QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
            QVERIFY2(second.process.exitCode() == 0, second.err.constData());
            QCOMPARE(second.err, QByteArray());
            QCOMPARE(first.process.state(), QProcess::Running);
        }
        // Still one supervisor: the server was started once.
        QVERIFY(!QFile::exists(m_term));

        Launch quit;
        quit.start(u"wardlamp"_s, { u"--quit"_s });
        QVERIFY(quit.finish(30000));
        QVERIFY2(quit.process.exitCode() == 0, quit.err.constData());
        // --quit returns once the app is gone (its exit only needs collecting),
        // its server stopped the orderly way.
        QVERIFY(first.finish(2000));
        QCOMPARE(first.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.process.exitCode(), 0);
        QCOMPARE(readFile(m_term), QByteArray("term\n"));

        Launch nothing;
        nothing.start(u"wardlamp"_s, { u"--quit"_s });
        QVERIFY(nothing.finish());
        QCOMPARE(nothing.process.exitCode(), 0);
        QVERIFY(nothing.err.contains("not running"));
    }

    void appAndDaemonRefuseEachOther()
    {
        Launch app;
        app.start(u"wardlamp"_s, {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_term + u".ready"_s), waitMs(30000));
        Launch daemon;
        daemon.start(u"wardlampd"_s, {});
        QVERIFY(daemon.finish());
        QCOMPARE(daemon.process.exitCode(), 4);
        QVERIFY2(
            daemon.err.contains(u"wardlamp (pid %1)"_s.arg(app.process.processId()).toUtf8()), daemon.err.constData());
        QCOMPARE(daemon.err.count('\n'), 1);
        ::kill(pid_t(app.process.processId()), SIGTERM);
        QVERIFY(app.finish());
        QCOMPARE(readFile(m_term), QByteArray("term\n"));

        Launch supervisor;
        supervisor.start(u"wardlampd"_s, {});
        QTRY_VERIFY_WITH_TIMEOUT(supervisor.err.contains("to start"), waitMs(20000));
        for (const QStringList& arguments : { QStringList {}, QStringList { u"--show=logs"_s } }) {
            Launch refused;
            refused.start(u"wardlamp"_s, arguments);
            QVERIFY(refused.finish());
            QCOMPARE(refused.process.exitCode(), 4);
            QVERIFY2(
                refused.err.contains(
                    u"wardlampd (pid %1) supervises this configuration"_s.arg(supervisor.process.processId()).toUtf8()),
                refused.err.constData());
            QCOMPARE(refused.err.count('\n'), 1);
        }
        ::kill(pid_t(supervisor.process.processId()), SIGTERM);
        QVERIFY(supervisor.finish());
    }

    // The app answers wardlampd's pair and remote verbs on its socket, and
    // what they change is the running app's.
    void pairAndRemoteVerbsReachTheApp()
    {
        Launch app;
        app.start(u"wardlamp"_s, {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_term + u".ready"_s), waitMs(30000));

        Launch name;
        name.start(u"wardlampd"_s, { u"remote"_s, u"name"_s, u"Desk"_s, u"top"_s });
        QVERIFY(name.finish());
        QVERIFY2(name.process.exitCode() == 0, name.err.constData());

        Launch status;
        status.start(u"wardlampd"_s, { u"remote"_s, u"status"_s });
        QVERIFY(status.finish());
        QVERIFY2(status.process.exitCode() == 0, status.err.constData());
        const QByteArray statusOut = status.process.readAllStandardOutput();
        QVERIFY2(statusOut.contains("computer name: Desk top\n"), statusOut.constData());
        QVERIFY2(statusOut.contains("(as the running supervisor has them)"), statusOut.constData());

        Launch pair;
        pair.start(u"wardlampd"_s, { u"pair"_s });
        QVERIFY(pair.finish());
        QVERIFY2(pair.process.exitCode() == 0, pair.err.constData());
        const QByteArray key = pair.process.readAllStandardOutput();
        QVERIFY2(key.contains("Pairing key for \"Desk top\""), key.constData());

        Launch rotate;
        rotate.start(u"wardlampd"_s, { u"pair"_s, u"--rotate"_s });
        QVERIFY(rotate.finish());
        QVERIFY2(rotate.process.exitCode() == 0, rotate.err.constData());
        QVERIFY2(rotate.err.contains("the running supervisor uses it now"), rotate.err.constData());
        const QByteArray rotated = rotate.process.readAllStandardOutput();
        const auto keyLine = [](const QByteArray& out) {
            for (const QByteArray& line : out.split('\n')) {
                if (line.startsWith("WL1."))
                    return line;
            }
            return QByteArray();
        };
        QVERIFY(!keyLine(key).isEmpty());
        QVERIFY(!keyLine(rotated).isEmpty());
        QVERIFY(keyLine(rotated) != keyLine(key));
        QCOMPARE(app.process.state(), QProcess::Running);

        ::kill(pid_t(app.process.processId()), SIGTERM);
        QVERIFY(app.finish());
    }

    void staleLockDoesNotBlock()
    {
        Launch killed;
        killed.start(u"wardlamp"_s, {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_term + u".ready"_s), waitMs(30000));
        ::kill(pid_t(killed.process.processId()), SIGKILL);
        QVERIFY(killed.finish());
        QFile::remove(m_term + u".ready"_s);

        Launch next;
        next.start(u"wardlamp"_s, {});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_term + u".ready"_s), waitMs(30000));
        QCOMPARE(next.process.state(), QProcess::Running);
        Launch quit;
        quit.start(u"wardlamp"_s, { u"--quit"_s });
        QVERIFY(quit.finish(30000));
        QCOMPARE(quit.process.exitCode(), 0);
        QVERIFY(next.finish());
    }

    // The app killed with SIGKILL takes its direct children with it, not what
    // they started: the next app stops those before it starts anything.
    void leftoversOfAKilledAppAreStopped()
    {
        const QString orphanPid = m_environment->path(u"orphan-%1.pid"_s.arg(m_counter));
        const ServerConfig server
            = Test::serverRecord(u"wrapper"_s, u"sleep 300 & echo $! > %1; wait"_s.arg(orphanPid), true);
        qputenv("WL_SEED_SERVERS", ServerConfig::encodeList({ server }));
        Launch killed;
        killed.start(u"wardlamp"_s, {});
        QTRY_VERIFY_WITH_TIMEOUT(!readFile(orphanPid).trimmed().isEmpty(), waitMs(30000));
        const qint64 orphan = readFile(orphanPid).trimmed().toLongLong();
        ::kill(pid_t(killed.process.processId()), SIGKILL);
        QVERIFY(killed.finish());
        QVERIFY(!Test::processGone(orphan));

        QFile::remove(orphanPid);
        Launch next;
        next.start(u"wardlamp"_s, {});
        QTRY_VERIFY_WITH_TIMEOUT(Test::processGone(orphan), waitMs(30000));
        QTRY_VERIFY_WITH_TIMEOUT(next.err.contains("left running by an earlier run"), waitMs(10000));
        Launch quit;
        quit.start(u"wardlamp"_s, { u"--quit"_s });
        QVERIFY(quit.finish(30000));
        QVERIFY(next.finish());
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
    QString m_term;
    int m_counter = 0;
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "TestSingleInstance.moc"
