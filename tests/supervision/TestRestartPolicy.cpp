// RestartPolicy: whether a crashed server is restarted automatically, by tables.

#include "supervision/RestartPolicy.h"

#include <QtTest>

using namespace Wardlamp;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const RestartPolicy::TimePoint origin = RestartPolicy::TimePoint(100s);

} // namespace

class TestRestartPolicy : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void canAutoRestart_data()
    {
        QTest::addColumn<bool>("hasLast");
        QTest::addColumn<int>("agoMs");
        QTest::addColumn<bool>("restartAllowed");
        QTest::newRow("never") << false << 0 << true;
        QTest::newRow("just now") << true << 0 << false;
        QTest::newRow("4.999 s") << true << 4999 << false;
        QTest::newRow("5 s") << true << 5000 << true;
        QTest::newRow("9.999 s") << true << 9999 << true;
        QTest::newRow("10 s") << true << 10000 << true;
    }

    void canAutoRestart()
    {
        QFETCH(bool, hasLast);
        QFETCH(int, agoMs);
        QFETCH(bool, restartAllowed);
        const auto now = origin;
        const std::optional<RestartPolicy::TimePoint> last
            = hasLast ? std::optional(now - std::chrono::milliseconds(agoMs)) : std::nullopt;
        QCOMPARE(RestartPolicy::canAutoRestart(last, now, 5000ms), restartAllowed);

        RestartPolicy policy;
        if (last)
            QVERIFY(policy.claimRestart(true, *last));
        QCOMPARE(policy.canAutoRestart(now), restartAllowed);
    }

    // Events in order: "crash MS" (a crash MS after the origin) or "forget"
    // (a port recovery began); for each crash, whether it is restarted.
    void crashes_data()
    {
        QTest::addColumn<bool>("restartOnCrash");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QList<bool>>("restarted");

        const QStringList crashLoop { u"crash 0"_s, u"crash 1000"_s, u"crash 2000"_s, u"crash 3000"_s };
        QTest::newRow("off: never restarted") << false << crashLoop << QList<bool> { false, false, false, false };
        QTest::newRow("a crash loop is restarted once")
            << true << crashLoop << QList<bool> { true, false, false, false };
        QTest::newRow("again once the cooldown has passed")
            << true << QStringList { u"crash 0"_s, u"crash 4999"_s, u"crash 5000"_s, u"crash 9999"_s, u"crash 10000"_s }
            << QList<bool> { true, false, true, false, true };
        QTest::newRow("a refused crash does not restart the cooldown")
            << true << QStringList { u"crash 0"_s, u"crash 4000"_s, u"crash 6000"_s }
            << QList<bool> { true, false, true };
        QTest::newRow("a port recovery forgets the last restart")
            << true << QStringList { u"crash 0"_s, u"forget"_s, u"crash 1000"_s, u"crash 2000"_s }
            << QList<bool> { true, true, false };
        QTest::newRow("forgetting when nothing happened")
            << true << QStringList { u"forget"_s, u"crash 0"_s } << QList<bool> { true };
    }

    void crashes()
    {
        QFETCH(bool, restartOnCrash);
        QFETCH(QStringList, events);
        QFETCH(QList<bool>, restarted);

        RestartPolicy policy;
        QList<bool> outcome;
        for (const QString& event : events) {
            if (event == u"forget"_s) {
                policy.forget();
                QCOMPARE(policy.lastRestartAt(), std::nullopt);
                continue;
            }
            const auto at = origin + std::chrono::milliseconds(event.section(u' ', 1).toInt());
            const bool allowed = policy.claimRestart(restartOnCrash, at);
            outcome.append(allowed);
            if (allowed)
                QCOMPARE(policy.lastRestartAt(), std::optional(at));
        }
        QCOMPARE(outcome, restarted);
    }
};

QTEST_GUILESS_MAIN(TestRestartPolicy)
#include "TestRestartPolicy.moc"
