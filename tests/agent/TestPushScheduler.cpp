#include "TestEnvironment.h"
#include "agent/PushScheduler.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Wardlamp;
using namespace std::chrono_literals;
using Clock = PushScheduler::Clock;

class TestPushScheduler : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dueAt_data()
    {
        QTest::addColumn<int>("firstMs");
        QTest::addColumn<int>("latestMs");
        QTest::addColumn<int>("trailingMs");
        QTest::addColumn<int>("maxDelayMs");
        QTest::addColumn<int>("dueMs");
        QTest::newRow("one change: the trailing delay") << 0 << 0 << 200 << 900 << 200;
        QTest::newRow("a later change postpones") << 0 << 300 << 200 << 900 << 500;
        QTest::newRow("a stream hits the deadline") << 0 << 800 << 200 << 900 << 900;
        QTest::newRow("just before the deadline") << 0 << 699 << 200 << 900 << 899;
        QTest::newRow("deadline below trailing reads as trailing") << 0 << 0 << 200 << 50 << 200;
        QTest::newRow("deadline below trailing, stream") << 0 << 150 << 200 << 50 << 200;
        QTest::newRow("counted from the first waiting change") << 1000 << 1500 << 200 << 900 << 1700;
        QTest::newRow("no trailing delay") << 0 << 40 << 0 << 900 << 40;
    }
    void dueAt()
    {
        QFETCH(int, firstMs);
        QFETCH(int, latestMs);
        QFETCH(int, trailingMs);
        QFETCH(int, maxDelayMs);
        QFETCH(int, dueMs);
        const Clock::time_point origin;
        const auto due = PushScheduler::dueAt(origin + std::chrono::milliseconds(firstMs),
            origin + std::chrono::milliseconds(latestMs), std::chrono::milliseconds(trailingMs),
            std::chrono::milliseconds(maxDelayMs));
        QCOMPARE(std::chrono::duration_cast<std::chrono::milliseconds>(due - origin).count(), dueMs);
    }

    void changesInOneGoPushOnce()
    {
        PushScheduler scheduler(20ms, 200ms);
        QSignalSpy due(&scheduler, &PushScheduler::due);
        for (int i = 0; i < 10; ++i)
            scheduler.schedule();
        QVERIFY(scheduler.isPending());
        QVERIFY(due.wait(Test::waitMs(5000)));
        QVERIFY(!scheduler.isPending());
        QTest::qWait(100);
        QCOMPARE(due.size(), 1);
    }

    void cancelForgetsWhatWaits()
    {
        PushScheduler scheduler(20ms, 40ms);
        QSignalSpy due(&scheduler, &PushScheduler::due);
        scheduler.schedule();
        scheduler.cancel();
        QVERIFY(!scheduler.isPending());
        QTest::qWait(150);
        QCOMPARE(due.size(), 0);
        // The next change starts a new wait, with its own deadline.
        scheduler.schedule();
        QVERIFY(due.wait(Test::waitMs(5000)));
        QCOMPARE(due.size(), 1);
    }

    // Fault pinned: a stream of changes spaced under the trailing delay kept
    // postponing the push for as long as it lasted.
    void steadyStreamStillPushes()
    {
        PushScheduler scheduler(50ms, 150ms);
        QSignalSpy due(&scheduler, &PushScheduler::due);
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, &scheduler, &PushScheduler::schedule);
        ticker.start(10);
        scheduler.schedule();
        QVERIFY(due.wait(Test::waitMs(5000)));
        QVERIFY(ticker.isActive());
    }
};

QTEST_GUILESS_MAIN(TestPushScheduler)
#include "TestPushScheduler.moc"
