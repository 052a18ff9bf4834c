// PortRecovery: the state of one server's busy-port recovery and its texts,
// by tables; freePort() with real children. The recovery through the manager
// is in TestServerManager.

#include "TestEnvironment.h"
#include "supervision/ListenerScanner.h"
#include "supervision/PortRecovery.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <csignal>

#include <unistd.h>

using namespace Wardlamp;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const PortRecovery::TimePoint origin = PortRecovery::TimePoint(100s);

// Lists the given processes as the port's listeners.
class FixedScanner : public ListenerScanner {
public:
    explicit FixedScanner(QList<qint32> pids)
        : m_pids(std::move(pids))
    {
    }
    QList<qint32> listeningPids(quint16) const override { return m_pids; }

private:
    QList<qint32> m_pids;
};

// A real wl-test-child that holds until signalled (and ignores SIGTERM when asked).
std::unique_ptr<QProcess> startChild(bool ignoreTerm)
{
    auto process = std::make_unique<QProcess>();
    QStringList steps;
    if (ignoreTerm)
        steps.append(u"ignore-term"_s);
    steps += { u"out:ready"_s, u"hold"_s };
    process->start(Test::program(u"wl-test-child"_s), steps);
    if (!process->waitForReadyRead(Test::waitMs(5000)))
        return nullptr;
    return process;
}

// Lists this process as the port's listener.
class SelfScanner : public ListenerScanner {
public:
    QList<qint32> listeningPids(quint16) const override { return { qint32(::getpid()) }; }
};

} // namespace

class TestPortRecovery : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void canBegin_data()
    {
        QTest::addColumn<bool>("hasLast");
        QTest::addColumn<int>("agoMs");
        QTest::addColumn<bool>("recoveryAllowed");
        QTest::newRow("never") << false << 0 << true;
        QTest::newRow("just now") << true << 0 << false;
        QTest::newRow("4.999 s") << true << 4999 << false;
        QTest::newRow("5 s") << true << 5000 << false;
        QTest::newRow("9.999 s") << true << 9999 << false;
        QTest::newRow("10 s") << true << 10000 << true;
    }

    void canBegin()
    {
        QFETCH(bool, hasLast);
        QFETCH(int, agoMs);
        QFETCH(bool, recoveryAllowed);
        const auto now = origin;
        const std::optional<PortRecovery::TimePoint> last
            = hasLast ? std::optional(now - std::chrono::milliseconds(agoMs)) : std::nullopt;
        QCOMPARE(PortRecovery::canBegin(last, now, 10000ms), recoveryAllowed);
    }

    // Events in order, each with what it gave:
    //   "begin MS"     an in-use message MS after the origin: "#N" (recovery N began) or "ignored"
    //   "freed N"      recovery N's port has been dealt with: "-"
    //   "exit"         the failing process is gone, finish(): "restart" or "wait"
    //   "still alive"  finish() while it lives: "restart" or "wait"
    //   "abandon"      a requested stop completed, or a new start: "-"
    void sequences_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("outcomes");

        QTest::newRow("the process exits before the port is freed") << QStringList { u"begin 0"_s, u"exit"_s,
            u"freed 1"_s, u"exit"_s } << QStringList { u"#1"_s, u"wait"_s, u"-"_s, u"restart"_s };
        QTest::newRow("the port is freed while the process lives") << QStringList { u"begin 0"_s, u"freed 1"_s,
            u"still alive"_s, u"exit"_s } << QStringList { u"#1"_s, u"-"_s, u"wait"_s, u"restart"_s };
        QTest::newRow("one recovery at a time") << QStringList { u"begin 0"_s, u"begin 100"_s, u"begin 20000"_s }
                                                << QStringList { u"#1"_s, u"ignored"_s, u"ignored"_s };
        QTest::newRow("the cooldown counts from the start, even after the end")
            << QStringList { u"begin 0"_s, u"freed 1"_s, u"exit"_s, u"begin 9999"_s, u"begin 10000"_s }
            << QStringList { u"#1"_s, u"-"_s, u"restart"_s, u"ignored"_s, u"#2"_s };
        QTest::newRow("an abandoned recovery restarts nothing") << QStringList { u"begin 0"_s, u"abandon"_s,
            u"freed 1"_s, u"exit"_s } << QStringList { u"#1"_s, u"-"_s, u"-"_s, u"wait"_s };
        QTest::newRow("an abandoned recovery keeps its cooldown") << QStringList { u"begin 0"_s, u"abandon"_s,
            u"begin 5000"_s } << QStringList { u"#1"_s, u"-"_s, u"ignored"_s };
        QTest::newRow("the late result of an abandoned recovery cannot complete the next") << QStringList {
            u"begin 0"_s, u"abandon"_s, u"begin 10000"_s, u"freed 1"_s, u"exit"_s, u"freed 2"_s, u"exit"_s
        } << QStringList { u"#1"_s, u"-"_s, u"#2"_s, u"-"_s, u"wait"_s, u"-"_s, u"restart"_s };
        QTest::newRow("an exit without a recovery") << QStringList { u"exit"_s } << QStringList { u"wait"_s };
        QTest::newRow("finishing twice restarts once") << QStringList { u"begin 0"_s, u"freed 1"_s, u"exit"_s,
            u"exit"_s } << QStringList { u"#1"_s, u"-"_s, u"restart"_s, u"wait"_s };
    }

    void sequences()
    {
        QFETCH(QStringList, events);
        QFETCH(QStringList, outcomes);

        PortRecovery recovery;
        QStringList outcome;
        for (const QString& event : events) {
            const QString verb = event.section(u' ', 0, 0);
            const QString argument = event.section(u' ', 1);
            if (verb == u"begin"_s) {
                const auto attempt = recovery.begin(origin + std::chrono::milliseconds(argument.toInt()));
                outcome.append(attempt ? u"#"_s + QString::number(*attempt) : u"ignored"_s);
            } else if (verb == u"freed"_s) {
                recovery.portFreed(argument.toULongLong());
                outcome.append(u"-"_s);
            } else if (verb == u"abandon"_s) {
                recovery.abandon();
                QVERIFY(!recovery.isRecovering());
                outcome.append(u"-"_s);
            } else {
                outcome.append(recovery.finish(event == u"exit"_s) ? u"restart"_s : u"wait"_s);
            }
        }
        QCOMPARE(outcome, outcomes);
    }

    void texts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("begin") << PortRecovery::beginText(3000)
                               << u"\u26A0\uFE0E Port 3000 already in use \u2014 freeing it and restarting\u2026"_s;
        QTest::newRow("freed one") << PortRecovery::resultText(5173, { 42 }) << u"Freed port 5173 (stopped PID 42)."_s;
        QTest::newRow("freed several, in the scanner's order")
            << PortRecovery::resultText(8080, { 7, 300, 12 }) << u"Freed port 8080 (stopped PID 7, 300, 12)."_s;
        QTest::newRow("nobody listening")
            << PortRecovery::resultText(3000, {}) << u"No listening process found on port 3000; retrying anyway."_s;
        QTest::newRow("restart") << PortRecovery::restartText() << u"\u21BB Restarting\u2026"_s;
        QTest::newRow("held by one") << PortRecovery::heldText(5173, { { 123, u"python3 -m http.server"_s } })
                                     << u"Port 5173 is held by PID 123 (python3 -m http.server); the server went on."_s;
        QTest::newRow("held by several, one unreadable")
            << PortRecovery::heldText(3000, { { 7, u"node a.js"_s }, { 9, QString() } })
            << u"Port 3000 is held by PID 7 (node a.js), PID 9; the server went on."_s;
        QTest::newRow("held by nobody found")
            << PortRecovery::heldText(3000, {}) << u"No listening process found on port 3000; the server went on."_s;
    }

    void texts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    void holdersNeverNameThisProcess()
    {
        const SelfScanner scanner;
        QVERIFY(PortRecovery::holders(&scanner, 3000).isEmpty());
        QVERIFY(PortRecovery::holders(nullptr, 3000).isEmpty());
    }

    // Holders that exit on SIGTERM are waited for, not slept on: with a grace
    // far longer than the test's patience, freePort() returns once they are
    // gone. One that ignores SIGTERM gets SIGKILL when the grace is over; a
    // holder gone before the scan was read costs nothing.
    void freePortWaitsForTheHoldersExitOnly()
    {
        std::unique_ptr<QProcess> first = startChild(false);
        std::unique_ptr<QProcess> second = startChild(false);
        QVERIFY(first && second);
        const FixedScanner scanner({ qint32(first->processId()), qint32(second->processId()) });
        QElapsedTimer clock;
        clock.start();
        const QList<qint32> signalled = PortRecovery::freePort(&scanner, 3000, std::chrono::minutes(5));
        QVERIFY2(clock.elapsed() < 60000, "freePort slept through the grace");
        QCOMPARE(signalled, (QList<qint32> { qint32(first->processId()), qint32(second->processId()) }));
        QVERIFY(first->waitForFinished(Test::waitMs(5000)));
        QVERIFY(second->waitForFinished(Test::waitMs(5000)));
        QCOMPARE(first->exitStatus(), QProcess::CrashExit); // ended by SIGTERM
    }

    void freePortKillsWhoIgnoresTheTerminateRequest()
    {
        std::unique_ptr<QProcess> stubborn = startChild(true);
        QVERIFY(stubborn);
        const qint32 pid = qint32(stubborn->processId());
        const FixedScanner scanner({ pid, 999999999 });
        PortRecovery::freePort(&scanner, 3000, std::chrono::milliseconds(200));
        QVERIFY(stubborn->waitForFinished(Test::waitMs(5000)));
        QCOMPARE(stubborn->exitStatus(), QProcess::CrashExit); // it ignored SIGTERM: SIGKILL ended it
    }

    void freePortNeverSignalsThisProcess()
    {
        const SelfScanner scanner;
        QCOMPARE(PortRecovery::freePort(&scanner, 3000), QList<qint32> {});
        QCOMPARE(PortRecovery::freePort(nullptr, 3000), QList<qint32> {});
        QCOMPARE(PortRecovery::freePort(&scanner, 70000), QList<qint32> {});
    }
};

QTEST_GUILESS_MAIN(TestPortRecovery)
#include "TestPortRecovery.moc"
