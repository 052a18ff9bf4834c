// FollowerBudget: while a followed server floods, all followers together send
// at a bounded rate; once it is quiet, without limit.

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
    void quietMeansNoLimit()
    {
        FollowerBudget budget;
        budget.update(Clock::time_point(1s), false);
        QVERIFY(!budget.limited());
    }

    void floodHoldsAllFollowersToTheRate()
    {
        FollowerBudget budget;
        const Clock::time_point start(10s);
        budget.update(start, true);
        QVERIFY(budget.limited());
        // A flood starts with what the quiet spell saved …
        QCOMPARE(budget.available(), FollowerBudget::maxSavedBytes);
        budget.spend(budget.available());

        // … and goes on at the rate, however much the servers write and
        // however many follow them.
        budget.update(start + 1ms, true);
        QCOMPARE(budget.available(), rateOver(1ms));
        budget.spend(rateOver(1ms) / 2);
        budget.update(start + 3ms, true);
        QCOMPARE(budget.available(), rateOver(1ms) - rateOver(1ms) / 2 + rateOver(2ms));
        QVERIFY(budget.limited());
    }

    void savingsAreBounded()
    {
        FollowerBudget budget;
        const Clock::time_point start(10s);
        budget.update(start, true);
        // Followers whose sockets are full take nothing for a while.
        budget.update(start + 1s, true);
        QCOMPARE(budget.available(), FollowerBudget::maxSavedBytes);
    }

    void floodEndsAfterAQuietSpell()
    {
        FollowerBudget budget;
        const Clock::time_point start(10s);
        budget.update(start, true);
        budget.spend(budget.available());
        budget.update(start + FollowerBudget::quietAfter - 1ms, false);
        QVERIFY(budget.limited());
        budget.update(start + FollowerBudget::quietAfter, false);
        QVERIFY(!budget.limited());
        QCOMPARE(budget.available(), FollowerBudget::maxSavedBytes);

        // The next batch starts a new flood with the bytes saved.
        budget.update(start + 1s, true);
        QVERIFY(budget.limited());
        QCOMPARE(budget.available(), FollowerBudget::maxSavedBytes);
    }

    void aTrickleToAHundredFollowersIsNeverHeldBack()
    {
        // A line every 20 ms, 150 bytes of JSON to each of 100 followers.
        FollowerBudget budget;
        const Clock::time_point start(10s);
        for (int i = 0; i < 200; ++i) {
            budget.update(start + i * 20ms, true);
            QVERIFY(budget.available() >= 100 * 150);
            budget.spend(100 * 150);
        }
    }
};

QTEST_GUILESS_MAIN(TestFollowerBudget)
#include "TestFollowerBudget.moc"
