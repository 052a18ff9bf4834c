// The bounded log and the restart cooldowns.

#include "TestEnvironment.h"
#include "supervision/LogRing.h"

#include <QtTest>

#include <deque>
#include <random>

using namespace Wardlamp;
using namespace std::chrono_literals;

namespace {

void append(LogRing& ring, quint64 seq)
{
    ring.append(QByteArray::number(seq), 1'700'000'000'000 + qint64(seq), false, seq);
}

// One line as the model of a log expects it.
struct Expected {
    QByteArray text;
    qint64 msecs = 0;
    bool isError = false;
    quint64 seq = 0;
};

// Whether the ring holds exactly `model`, through every way of reading it.
bool holds(const LogRing& ring, const std::deque<Expected>& model)
{
    if (ring.size() != int(model.size()))
        return false;
    int index = 0;
    for (const LogLine& line : ring) {
        const Expected& want = model[std::size_t(index)];
        if (line.seq != want.seq || line.text != QString::fromUtf8(want.text) || line.isError != want.isError
            || line.date.toMSecsSinceEpoch() != want.msecs || ring.textAt(index) != want.text
            || line.id != ring.lineId(want.seq))
            return false;
        ++index;
    }
    return true;
}

QList<quint64> seqs(const LogRing& ring)
{
    QList<quint64> result;
    for (const LogLine& entry : ring)
        result.append(entry.seq);
    return result;
}

} // namespace

class TestLogRing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    void evictsOldestBeyondCapacity()
    {
        LogRing ring(3);
        for (quint64 seq = 1; seq <= 5; ++seq)
            append(ring, seq);
        QCOMPARE(ring.size(), 3);
        QCOMPARE(seqs(ring), (QList<quint64> { 3, 4, 5 }));
        QCOMPARE(ring.first().seq, 3u);
        QCOMPARE(ring.last().seq, 5u);
        QCOMPARE(ring.firstSeq(), 3u);
        QCOMPARE(ring.lastSeq(), 5u);
        QCOMPARE(ring.toList().size(), 3);
    }

    void line2001EvictsLine1()
    {
        LogRing ring;
        for (quint64 seq = 1; seq <= 2001; ++seq)
            append(ring, seq);
        QCOMPARE(ring.size(), 2000);
        QCOMPARE(ring.first().seq, 2u);
        QCOMPARE(ring.last().seq, 2001u);
    }

    void indexAfterSeq()
    {
        LogRing ring(4);
        for (quint64 seq = 10; seq <= 15; ++seq)
            append(ring, seq); // holds 12..15
        QCOMPARE(ring.indexAfterSeq(0), 0);
        QCOMPARE(ring.indexAfterSeq(12), 1);
        QCOMPARE(ring.indexAfterSeq(14), 3);
        QCOMPARE(ring.indexAfterSeq(15), 4);
        QCOMPARE(ring.indexAfterSeq(99), 4);
    }

    // The manager skips lines that the rest of their batch would evict at
    // once; a log is always one run of consecutive lines.
    void lineOutOfTurnBeginsANewRun_data()
    {
        QTest::addColumn<quint64>("next");
        QTest::addColumn<QList<quint64>>("expected");
        QTest::newRow("next in turn") << quint64(6) << QList<quint64> { 3, 4, 5, 6 };
        QTest::newRow("lines skipped") << quint64(9) << QList<quint64> { 9 };
        QTest::newRow("going back") << quint64(2) << QList<quint64> { 2 };
        QTest::newRow("repeated") << quint64(5) << QList<quint64> { 5 };
    }

    void lineOutOfTurnBeginsANewRun()
    {
        QFETCH(quint64, next);
        QFETCH(QList<quint64>, expected);
        LogRing ring(QUuid::createUuid(), 4);
        for (quint64 seq = 1; seq <= 5; ++seq)
            append(ring, seq);
        append(ring, next);
        QCOMPARE(seqs(ring), expected);
        QCOMPARE(ring.last().text, QString::number(next));
        append(ring, next + 1);
        QCOMPARE(ring.lastSeq(), next + 1);
        QCOMPARE(ring.indexAfterSeq(next), ring.size() - 1);
    }

    void copiesAreIndependent()
    {
        LogRing ring(2);
        append(ring, 1);
        append(ring, 2);
        const LogRing copy = ring;
        append(ring, 3);
        QCOMPARE(seqs(copy), (QList<quint64> { 1, 2 }));
        QCOMPARE(seqs(ring), (QList<quint64> { 2, 3 }));
        QVERIFY(!(copy == ring));
        ring.clear();
        QVERIFY(ring.isEmpty());
        QCOMPARE(ring.firstSeq(), 0u);
        append(ring, 4);
        QCOMPARE(seqs(ring), QList<quint64> { 4 });
    }

    // Texts of every size, appended and evicted in a long run, read back
    // unchanged: the arena wraps, grows and shrinks underneath.
    void keepsTextsThroughWrapsAndMoves_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("minBytes");
        QTest::addColumn<int>("maxBytes");
        QTest::newRow("equal lines") << 50 << 80 << 80;
        QTest::newRow("mixed lines") << 50 << 0 << 300;
        QTest::newRow("one line") << 1 << 0 << 100;
        QTest::newRow("long and short") << 20 << 0 << 70000;
        QTest::newRow("full log") << 2000 << 1 << 200;
    }

    void keepsTextsThroughWrapsAndMoves()
    {
        QFETCH(int, capacity);
        QFETCH(int, minBytes);
        QFETCH(int, maxBytes);
        std::mt19937 random(7);
        LogRing ring(QUuid::createUuid(), capacity);
        std::deque<Expected> model;
        // Whole characters of one, two and three bytes.
        const QByteArray tokens[] = { QByteArrayLiteral("a"), QByteArrayLiteral(" "), QByteArrayLiteral("\xc3\xa9"),
            QByteArrayLiteral("\xe2\x9c\x96") };
        for (quint64 seq = 1; seq <= quint64(capacity) * 6 + 100; ++seq) {
            // Phases of long lines then short ones, so the arena also has to shrink.
            const bool longPhase = (seq / quint64(capacity * 2 + 1)) % 2 == 0;
            const int limit = longPhase ? maxBytes : std::max(minBytes, maxBytes / 10);
            const int size = minBytes + int(random() % quint32(limit - minBytes + 1));
            QByteArray text;
            while (text.size() < size) {
                const QByteArray& token = tokens[random() % 4];
                if (text.size() + token.size() > size)
                    break;
                text += token;
            }
            Expected line { text, qint64(seq) * 1000, seq % 3 == 0, seq };
            ring.append(line.text, line.msecs, line.isError, line.seq);
            model.push_back(line);
            if (int(model.size()) > capacity)
                model.pop_front();
            if (seq % 97 == 0 || seq < 5)
                QVERIFY2(holds(ring, model), qPrintable(QString::number(seq)));
        }
        QVERIFY(holds(ring, model));
        // The storage stays near the texts it holds.
        qsizetype textBytes = 0;
        for (const Expected& line : model)
            textBytes += line.text.size();
        QVERIFY2(
            ring.memoryBytes() < 4096 + 4 * textBytes + capacity * 48, qPrintable(QString::number(ring.memoryBytes())));
    }

    void cutsOverlongTextAtACharacter()
    {
        LogRing ring;
        QByteArray text(LogRing::maxTextBytes - 1, 'x');
        text += "\xe2\x9c\x96 tail"; // a three-byte character across the limit
        ring.append(text, 0, false, 1);
        QCOMPARE(ring.textAt(0), QByteArrayView(text).first(LogRing::maxTextBytes - 1));
    }

    // Ids are derived, not stored: the same on every read and in every copy,
    // version 4, distinct per line and per server.
    void lineIdsAreStableAndDistinct()
    {
        const QUuid serverA = QUuid::createUuid();
        const QUuid serverB = QUuid::createUuid();
        LogRing a(serverA);
        LogRing b(serverB);
        for (quint64 seq = 1; seq <= 3000; ++seq) {
            append(a, seq);
            append(b, seq);
        }
        QSet<QUuid> ids;
        for (const LogRing* ring : { &a, &b }) {
            for (int i = 0; i < ring->size(); ++i) {
                const QUuid id = ring->at(i).id;
                QCOMPARE(id.version(), QUuid::Random);
                QCOMPARE(id.variant(), QUuid::DCE);
                QCOMPARE(ring->at(i).id, id);
                QCOMPARE(ring->idAt(i), id);
                ids.insert(id);
            }
        }
        QCOMPARE(ids.size(), a.size() + b.size());
        const LogRing copy = a;
        QCOMPARE(copy.first().id, a.first().id);
        // A fresh log of the same server gives the same line the same id.
        LogRing again(serverA);
        append(again, a.lastSeq());
        QCOMPARE(again.first().id, a.last().id);
        QCOMPARE(LogLineIds(serverA).id(a.lastSeq()), a.last().id);
        QVERIFY(!(a == b));
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestLogRing)
#include "TestLogRing.moc"
