// The bounded log and the restart cooldowns.

#include "TestEnvironment.h"
#include "supervision/LogRing.h"
#include "supervision/RestartPolicy.h"

#include <QtTest>

using namespace Wardlamp;
using namespace std::chrono_literals;

namespace {

LogLine line(quint64 seq)
{
    return LogLine { QUuid::createUuid(), QDateTime::currentDateTime(), QString::number(seq), false, seq };
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
            ring.append(line(seq));
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
            ring.append(line(seq));
        QCOMPARE(ring.size(), 2000);
        QCOMPARE(ring.first().seq, 2u);
        QCOMPARE(ring.last().seq, 2001u);
    }

    void indexAfterSeq()
    {
        LogRing ring(4);
        for (quint64 seq = 10; seq <= 15; ++seq)
            ring.append(line(seq)); // holds 12..15
        QCOMPARE(ring.indexAfterSeq(0), 0);
        QCOMPARE(ring.indexAfterSeq(12), 1);
        QCOMPARE(ring.indexAfterSeq(14), 3);
        QCOMPARE(ring.indexAfterSeq(15), 4);
        QCOMPARE(ring.indexAfterSeq(99), 4);
    }

    void copiesAreIndependent()
    {
        LogRing ring(2);
        ring.append(line(1));
        ring.append(line(2));
        const LogRing copy = ring;
        ring.append(line(3));
        QCOMPARE(seqs(copy), (QList<quint64> { 1, 2 }));
        QCOMPARE(seqs(ring), (QList<quint64> { 2, 3 }));
        QVERIFY(!(copy == ring));
        ring.clear();
        QVERIFY(ring.isEmpty());
        QCOMPARE(ring.firstSeq(), 0u);
        ring.append(line(4));
        QCOMPARE(seqs(ring), QList<quint64> { 4 });
    }

    void cooldowns_data()
    {
        QTest::addColumn<bool>("hasLast");
        QTest::addColumn<int>("agoMs");
        QTest::addColumn<bool>("restartAllowed");
        QTest::addColumn<bool>("recoveryAllowed");
        QTest::newRow("never") << false << 0 << true << true;
        QTest::newRow("just now") << true << 0 << false << false;
        QTest::newRow("4.999 s") << true << 4999 << false << false;
        QTest::newRow("5 s") << true << 5000 << true << false;
        QTest::newRow("9.999 s") << true << 9999 << true << false;
        QTest::newRow("10 s") << true << 10000 << true << true;
    }

    void cooldowns()
    {
        QFETCH(bool, hasLast);
        QFETCH(int, agoMs);
        QFETCH(bool, restartAllowed);
        QFETCH(bool, recoveryAllowed);
        const auto now = std::chrono::steady_clock::time_point(100s);
        const std::optional<RestartPolicy::TimePoint> last
            = hasLast ? std::optional(now - std::chrono::milliseconds(agoMs)) : std::nullopt;
        QCOMPARE(RestartPolicy::canAutoRestart(last, now, 5000ms), restartAllowed);
        QCOMPARE(RestartPolicy::canRecoverPort(last, now, 10000ms), recoveryAllowed);
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestLogRing)
#include "TestLogRing.moc"
