// FollowerBudget: while lines keep coming to more than one follower, all of
// them together send at a bounded rate; otherwise without limit.

#include "TestEnvironment.h"
#include "control/FollowerBudget.h"

#include <QtTest>

using namespace Wardlamp;
using namespace std::chrono_literals;

class TestFollowerBudget : public QObject {
    Q_OBJECT

private:
    using Clock = FollowerBudget::Clock;
    // What the rate adds over `elapsed`.
    static qint64 rateOver(std::chrono::nanoseconds elapsed)
    {
        return qint64(double(elapsed.count()) * 1e-9 * double(FollowerBudget::floodBytesPerSecond));
    }

private Q_SLOTS:
    void aLoneFollowerIsNeverHeldBack()
    {
        FollowerBudget budget;
        const Clock::time_point start(10s);
        budget.update(start, 0);
        QVERIFY(!budget.limited());
        for (int i = 1; i <= 100; ++i) {
            budget.update(start + i * 1ms, 1);
            QVERIFY(!budget.limited());
        }
    }

    void sharedFloodHoldsAllFollowersToTheRate()
    {
        FollowerBudget budget;
        const Clock::time_point start(10s);
        budget.update(start, 100);
        QVERIFY(budget.limited());
        // A shared flood starts with the full allowance …
        QCOMPARE(budget.available(), FollowerBudget::maxSavedBytes);
        budget.spend(budget.available());

        // … and goes on at the rate, however much the servers write and
        // however many follow them.
        budget.update(start + 1ms, 100);
        QCOMPARE(budget.available(), rateOver(1ms));
        budget.spend(rateOver(1ms) / 2);
        budget.update(start + 3ms, 2);
        QCOMPARE(budget.available(), rateOver(1ms) - rateOver(1ms) / 2 + rateOver(2ms));
        QVERIFY(budget.limited());
    }

    void savingsAreBounded()
    {
        FollowerBudget budget;
        const Clock::time_point start(10s);
        budget.update(start, 2);
        // Followers whose sockets are full take nothing for a while.
        budget.update(start + 1s, 2);
        QCOMPARE(budget.available(), FollowerBudget::maxSavedBytes);
    }

    void floodEndsWhenAtMostOneFollowerIsFed()
    {
        FollowerBudget budget;
        const Clock::time_point start(10s);
        budget.update(start, 100);
        budget.spend(budget.available());
        budget.update(start + 60ms, 1);
        QVERIFY(!budget.limited());
        QCOMPARE(budget.available(), FollowerBudget::maxSavedBytes);

        // The next shared flood starts with the full allowance again.
        budget.update(start + 1s, 3);
        QVERIFY(budget.limited());
        QCOMPARE(budget.available(), FollowerBudget::maxSavedBytes);
    }

    // A gap in a flood shorter than quietAfter does not lift the limit: the
    // main thread, itself waiting for a core, leaves gaps within a flood.
    void aFollowerCountsAsFedUntilAQuietSpell()
    {
        FollowerBudget::Feed feed;
        const Clock::time_point start(10s);
        QVERIFY(!feed.fedRecently(0, start)); // never queued lines
        QVERIFY(feed.fedRecently(1, start));
        QVERIFY(feed.fedRecently(1, start + FollowerBudget::quietAfter - 1ms));
        QVERIFY(!feed.fedRecently(1, start + FollowerBudget::quietAfter));
        QVERIFY(!feed.fedRecently(1, start + 1s));
        // Lines again: fed from when they were seen.
        QVERIFY(feed.fedRecently(4, start + 2s));
        QVERIFY(feed.fedRecently(4, start + 2s + FollowerBudget::quietAfter - 1ms));
        QVERIFY(!feed.fedRecently(4, start + 2s + FollowerBudget::quietAfter));
    }

    void aTrickleToAHundredFollowersIsNeverHeldBack()
    {
        // A line every 20 ms, 150 bytes of JSON to each of 100 followers.
        FollowerBudget budget;
        const Clock::time_point start(10s);
        for (int i = 0; i < 200; ++i) {
            budget.update(start + i * 20ms, 100);
            QVERIFY(budget.available() >= 100 * 150);
            budget.spend(100 * 150);
        }
    }
};

QTEST_GUILESS_MAIN(TestFollowerBudget)
#include "TestFollowerBudget.moc"
