// ChangeBatch: what one batch of a manager's changes announces per server, by
// tables. The signals it turns into are checked with real children in
// TestServerManager.

#include "supervision/ChangeBatch.h"

#include <QtTest>

using namespace Wardlamp;
using namespace Wardlamp::Detail;
using namespace Qt::StringLiterals;

class TestChangeBatch : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Events on one server: "line" (the next line number, from 1), "touch" or
    // "clear"; then what the batch holds for it.
    void oneServer_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<bool>("stateChanged");
        QTest::addColumn<bool>("cleared");
        QTest::addColumn<int>("firstSeq");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("tapped");

        QTest::newRow("a touch") << QStringList { u"touch"_s } << true << false << 0 << 0 << 0;
        QTest::newRow("lines") << QStringList { u"line"_s, u"line"_s, u"line"_s } << true << false << 1 << 3 << 3;
        QTest::newRow("a clear forgets the lines before it, the tap keeps them")
            << QStringList { u"line"_s, u"line"_s, u"clear"_s } << true << true << 0 << 0 << 2;
        QTest::newRow("lines after a clear count from the first of them")
            << QStringList { u"line"_s, u"clear"_s, u"line"_s, u"line"_s } << true << true << 2 << 2 << 3;
        QTest::newRow("two clears") << QStringList { u"line"_s, u"clear"_s, u"line"_s, u"clear"_s, u"line"_s } << true
                                    << true << 3 << 1 << 3;
    }

    void oneServer()
    {
        QFETCH(QStringList, events);
        QFETCH(bool, stateChanged);
        QFETCH(bool, cleared);
        QFETCH(int, firstSeq);
        QFETCH(int, count);
        QFETCH(int, tapped);

        const QUuid id = QUuid::createUuid();
        ChangeBatch batch;
        quint64 seq = 0;
        for (const QString& event : events) {
            if (event == u"line"_s)
                ChangeBatch::lineAppended(batch.server(id), ++seq, "text", false);
            else if (event == u"touch"_s)
                batch.touch(id);
            else
                batch.clearLog(id);
        }
        const ChangeBatch::Server& change = batch.server(id);
        QCOMPARE(change.stateChanged, stateChanged);
        QCOMPARE(change.cleared, cleared);
        if (count > 0) // without lines the first number means nothing
            QCOMPARE(change.firstSeq, quint64(firstSeq));
        QCOMPARE(change.count, count);
        QCOMPARE(int(change.tap.size()), tapped);
        QCOMPARE(batch.order(), QList<QUuid> { id });
    }

    void serversInTheOrderFirstTouched()
    {
        const QUuid a = QUuid::createUuid();
        const QUuid b = QUuid::createUuid();
        ChangeBatch batch;
        batch.touch(b);
        ChangeBatch::lineAppended(batch.server(a), 1, "x", true);
        batch.clearLog(b);
        batch.touch(a);
        QCOMPARE(batch.order(), (QList<QUuid> { b, a }));
    }

    void oneDateForTheWholeBatch()
    {
        ChangeBatch batch;
        QVERIFY(!batch.dateIfTaken().isValid());
        const QDateTime date = batch.date();
        QTest::qWait(5);
        QCOMPARE(batch.date(), date);
        QCOMPARE(batch.msecs(), date.toMSecsSinceEpoch());
        QCOMPARE(batch.dateIfTaken(), date);
    }

    // Tap buffers of a batch (their capacities) and the spare one before; the
    // spare's capacity after: the largest, unless a burst made it.
    void recycleTaps_data()
    {
        QTest::addColumn<QList<int>>("taps");
        QTest::addColumn<int>("spareBefore");
        QTest::addColumn<int>("spareAfter");
        const int max = int(ChangeBatch::maxSpareTapLines);
        QTest::newRow("the largest is kept") << QList<int> { 10, 500, 40 } << 0 << 500;
        QTest::newRow("a larger spare stays") << QList<int> { 10, 40 } << 100 << 100;
        QTest::newRow("a burst's is not kept") << QList<int> { max + 1, 30 } << 0 << 30;
        QTest::newRow("the limit itself is kept") << QList<int> { max } << 0 << max;
    }

    void recycleTaps()
    {
        QFETCH(QList<int>, taps);
        QFETCH(int, spareBefore);
        QFETCH(int, spareAfter);
        ChangeBatch batch;
        for (const int capacity : taps)
            batch.server(QUuid::createUuid()).tap.reserve(std::size_t(capacity));
        std::vector<CapturedLine> spare;
        spare.reserve(std::size_t(spareBefore));
        batch.recycleTaps(spare);
        QCOMPARE(int(spare.capacity()), spareAfter);
        QVERIFY(spare.empty());
    }
};

QTEST_GUILESS_MAIN(TestChangeBatch)
#include "TestChangeBatch.moc"
