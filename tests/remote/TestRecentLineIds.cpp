#include "remote/RecentLineIds.h"

#include <QList>
#include <QTest>

using namespace Wardlamp;

class TestRecentLineIds : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Which of a sequence of ids (numbers naming ids) are new, with a capacity.
    void firstSightings_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<QList<bool>>("fresh");
        QTest::newRow("repeat within memory")
            << 3 << QList<int> { 1, 2, 1, 3, 2 } << QList<bool> { true, true, false, true, false };
        QTest::newRow("the oldest is forgotten past capacity")
            << 2 << QList<int> { 1, 2, 3, 1 } << QList<bool> { true, true, true, true };
        QTest::newRow("a repeat does not refresh its place")
            << 2 << QList<int> { 1, 2, 1, 3, 2, 1 } << QList<bool> { true, true, false, true, false, true };
        QTest::newRow("capacity below one reads as one")
            << 0 << QList<int> { 1, 1, 2, 1 } << QList<bool> { true, false, true, true };
    }

    void firstSightings()
    {
        QFETCH(int, capacity);
        QFETCH(QList<int>, ids);
        QFETCH(QList<bool>, fresh);
        RecentLineIds recent(capacity);
        for (qsizetype i = 0; i < ids.size(); ++i) {
            const QUuid id(uint(ids[i]), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
            QCOMPARE(recent.insert(id), fresh[i]);
        }
    }

    // Following a busy log for hours: the memory stays at its capacity.
    void memoryStaysBounded()
    {
        RecentLineIds recent(1000);
        for (int i = 0; i < 100000; ++i)
            QVERIFY(recent.insert(QUuid::createUuid()));
        QCOMPARE(recent.size(), 1000);
    }
};

QTEST_GUILESS_MAIN(TestRecentLineIds)
#include "TestRecentLineIds.moc"
