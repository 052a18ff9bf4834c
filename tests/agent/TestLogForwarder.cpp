#include "agent/LogForwarder.h"
#include "supervision/LineBatch.h"
#include "supervision/LogRing.h"

#include <QTest>

#include <vector>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

namespace {

// A server's log as the manager keeps it, plus the batches it announced, so
// that the forwarder can be fed exactly as the agent feeds it.
class FakeLogSource {
public:
    FakeLogSource(const QUuid& serverId, int capacity)
        : ring(serverId, capacity)
    {
    }

    // Appends `count` lines in one batch; when `capturing`, hands the batch on.
    void append(int count, LogForwarder* capture, const QUuid& id)
    {
        std::vector<QByteArray> texts;
        std::vector<CapturedLine> captured;
        texts.reserve(size_t(count));
        for (int i = 0; i < count; ++i) {
            const quint64 seq = ++m_lastSeq;
            texts.push_back(QByteArray("line ") + QByteArray::number(seq));
            ring.append(texts.back(), QDateTime::currentMSecsSinceEpoch(), false, seq);
        }
        for (size_t i = 0; i < texts.size(); ++i)
            captured.push_back(CapturedLine { m_lastSeq - quint64(count) + 1 + i, QByteArrayView(texts[i]), false });
        if (capture)
            capture->capture(id, LineBatch { QDateTime::currentDateTimeUtc(), captured }, ring);
    }

    LogRing ring;

private:
    quint64 m_lastSeq = 0;
};

QStringList texts(const QList<LogLine>& lines)
{
    QStringList result;
    for (const LogLine& line : lines)
        result.append(line.text);
    return result;
}

QStringList range(quint64 first, quint64 last)
{
    QStringList result;
    for (quint64 seq = first; seq <= last; ++seq)
        result.append(u"line %1"_s.arg(seq));
    return result;
}

} // namespace

class TestLogForwarder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every scenario: lines appended between two takes, with a controller
    // present (every batch captured); each take must return exactly the new
    // lines, in order, once.
    void everyNewLineOnceInOrder_data()
    {
        QTest::addColumn<QList<int>>("batches"); // > 0: append that many; 0: clear
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("below the cap") << QList<int> { 3, 2 } << 100 << range(11, 15);
        QTest::newRow("log held at its cap") << QList<int> { 4 } << 10 << range(11, 14);
        QTest::newRow("more than the cap between takes") << QList<int> { 8, 8 } << 10 << range(11, 26);
        QTest::newRow("one batch beyond the cap") << QList<int> { 25 } << 10 << range(11, 35);
        QTest::newRow("cleared, refilled with fewer") << QList<int> { 2, 0, 1 } << 10 << range(11, 13);
        QTest::newRow("cleared and left empty") << QList<int> { 2, 0 } << 10 << range(11, 12);
    }
    void everyNewLineOnceInOrder()
    {
        QFETCH(QList<int>, batches);
        QFETCH(int, capacity);
        QFETCH(QStringList, expected);
        const QUuid id = QUuid::createUuid();
        FakeLogSource source(id, capacity);
        LogForwarder forwarder;
        // Ten lines already forwarded.
        source.append(10, &forwarder, id);
        QCOMPARE(texts(forwarder.take(id, source.ring)), range(1, 10));
        for (int batch : batches) {
            if (batch == 0)
                source.ring.clear();
            else
                source.append(batch, &forwarder, id);
        }
        QCOMPARE(texts(forwarder.take(id, source.ring)), expected);
        QCOMPARE(texts(forwarder.take(id, source.ring)), QStringList());
    }

    void lineIdsAreTheLogsOwn()
    {
        const QUuid id = QUuid::createUuid();
        FakeLogSource source(id, 100);
        LogForwarder forwarder;
        source.append(5, &forwarder, id);
        const QList<LogLine> taken = forwarder.take(id, source.ring);
        QCOMPARE(taken.size(), 5);
        for (int i = 0; i < taken.size(); ++i)
            QCOMPARE(taken[i].id, source.ring.at(i).id);
        // Lines the cap evicted within their own batch carry the id the log gave them.
        source.append(150, &forwarder, id);
        const QList<LogLine> more = forwarder.take(id, source.ring);
        QCOMPARE(more.size(), 150);
        for (const LogLine& line : more)
            QCOMPARE(line.id, source.ring.lineId(line.seq));
        QCOMPARE(more.last().id, source.ring.last().id);
    }

    void noCursorMeansTheWholeLog()
    {
        const QUuid id = QUuid::createUuid();
        FakeLogSource source(id, 10);
        source.append(15, nullptr, id);
        LogForwarder forwarder;
        QVERIFY(!forwarder.cursor(id));
        QCOMPARE(texts(forwarder.take(id, source.ring)), range(6, 15));
        QCOMPARE(forwarder.cursor(id), std::optional<quint64>(15));
    }

    void passedOverLinesAreNotSentLater()
    {
        const QUuid id = QUuid::createUuid();
        FakeLogSource source(id, 10);
        LogForwarder forwarder;
        source.append(3, nullptr, id);
        forwarder.passOver(id, source.ring);
        source.ring.clear();
        forwarder.passOver(id, source.ring);
        QCOMPARE(forwarder.cursor(id), std::optional<quint64>(3));
        source.append(1, &forwarder, id);
        QCOMPARE(texts(forwarder.take(id, source.ring)), range(4, 4));
    }

    void backlogAccountsForEverythingUpToIt()
    {
        const QUuid id = QUuid::createUuid();
        FakeLogSource source(id, 10);
        LogForwarder forwarder;
        source.append(10, &forwarder, id);
        QCOMPARE(forwarder.take(id, source.ring).size(), 10);
        source.append(5, &forwarder, id);
        forwarder.markSentThrough(id, source.ring.lastSeq());
        QCOMPARE(texts(forwarder.take(id, source.ring)), QStringList());
        source.append(1, &forwarder, id);
        QCOMPARE(texts(forwarder.take(id, source.ring)), range(16, 16));
    }

    void pendingLinesAreBounded()
    {
        const QUuid id = QUuid::createUuid();
        FakeLogSource source(id, 10);
        LogForwarder forwarder;
        source.append(LogForwarder::maxPendingLines + 100, &forwarder, id);
        const QList<LogLine> taken = forwarder.take(id, source.ring);
        QCOMPARE(taken.size(), LogForwarder::maxPendingLines);
        QCOMPARE(taken.last().seq, quint64(LogForwarder::maxPendingLines + 100));
    }

    // Takes within a budget hand out the lines in pieces, in order, each once,
    // whether they come from captured lines the log evicted or from the log.
    void budgetedTakesLoseAndRepeatNothing_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::newRow("lines still in the log") << 100;
        QTest::newRow("most lines evicted, held as captured") << 10;
    }
    void budgetedTakesLoseAndRepeatNothing()
    {
        QFETCH(int, capacity);
        const QUuid id = QUuid::createUuid();
        FakeLogSource source(id, capacity);
        LogForwarder forwarder;
        source.append(60, &forwarder, id);
        const qsizetype lineCost = LogForwarder::wireCost(source.ring.last());
        QStringList received;
        int takes = 0;
        bool more = true;
        while (more) {
            QVERIFY(++takes <= 60);
            const QList<LogLine> lines = forwarder.take(id, source.ring, 7 * lineCost + lineCost / 2, &more);
            QVERIFY(!lines.isEmpty());
            QVERIFY(lines.size() <= 8);
            received += texts(lines);
            if (takes == 3)
                source.append(5, &forwarder, id); // more lines while some wait
        }
        QCOMPARE(received, range(1, 65));
        // A budget smaller than one line still moves on, one line at a time.
        source.append(2, &forwarder, id);
        QCOMPARE(texts(forwarder.take(id, source.ring, 1, &more)), range(66, 66));
        QVERIFY(more);
        QCOMPARE(texts(forwarder.take(id, source.ring, 1, &more)), range(67, 67));
        QVERIFY(!more);
    }
};

QTEST_GUILESS_MAIN(TestLogForwarder)
#include "TestLogForwarder.moc"
