// LogSearch over the lines a real manager captures: counts and navigation on
// a log that keeps growing, matches leaving with evicted lines, and a search
// confined to the error lines.
#include "UiFixture.h"
#include "ui/models/LogFilterModel.h"
#include "ui/models/LogModel.h"
#include "ui/models/LogSearch.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using Wardlamp::Test::waitMs;

class TestLogSearch : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Test::TestEnvironment>(); }

    // A server keeps printing while the search is open: the count grows, the
    // current match stays on its line, navigation wraps.
    void countsAndNavigationWhileTheLogGrows()
    {
        Test::UiFixture fixture(*m_environment);
        // Written as hex, so the command (in the log's first line) holds no match.
        auto line = [](const QString& text) -> QString {
            return u"raw:"_s + QString::fromLatin1((text + u'\n').toUtf8().toHex());
        };
        QStringList steps { line(u"needle one"_s), line(u"hay"_s), line(u"Needle two, needle three"_s) };
        for (int i = 0; i < 6; ++i)
            steps << u"sleep:150"_s << line(u"hay %1"_s.arg(i)) << line(u"needle %1"_s.arg(i + 4));
        steps << u"hold"_s;
        const ServerConfig server = fixture.addChild(u"api"_s, steps);
        LogModel log(fixture.manager());
        LogFilterModel shown(log);
        LogSearch search(shown);
        log.setServer(server.id);
        fixture.manager().start(server);
        QTRY_VERIFY_WITH_TIMEOUT(shown.rowCount() >= 4, waitMs(20000));

        QSignalSpy moved(&search, &LogSearch::currentMoved);
        search.setQuery(u"NEEDLE"_s);
        QVERIFY(search.count() >= 3);
        // A new search starts at the newest match.
        QCOMPARE(search.currentIndex(), search.count() - 1);
        QCOMPARE(moved.count(), 1);
        search.previous();
        search.previous();
        const LogSearch::Match held = *search.current();
        const int heldIndex = search.currentIndex();
        QCOMPARE(search.countText(), u"%1 of %2"_s.arg(heldIndex + 1).arg(search.count()));

        // The log grows; the count follows, the current match stays.
        QTRY_COMPARE_WITH_TIMEOUT(search.count(), 9, waitMs(20000));
        QCOMPARE(*search.current(), held);
        QCOMPARE(search.currentIndex(), heldIndex);
        QCOMPARE(search.countText(), u"%1 of 9"_s.arg(heldIndex + 1));

        // Two matches in one line, in order.
        const int row = log.rowOfSeq(held.seq);
        QVERIFY(row >= 0);
        int currentStart = -2;
        const QList<TextMatches::Range> inLine = search.matchesIn(held.seq, &currentStart);
        QCOMPARE(currentStart, held.start);
        QVERIFY(inLine.contains(TextMatches::Range { held.start, held.length }));

        // Navigation wraps both ways.
        while (search.currentIndex() != search.count() - 1)
            search.next();
        search.next();
        QCOMPARE(search.currentIndex(), 0);
        search.previous();
        QCOMPARE(search.currentIndex(), 8);

        search.setQuery(u"no such text"_s);
        QCOMPARE(search.count(), 0);
        QCOMPARE(search.countText(), u"No matches"_s);
        search.setQuery(QString());
        QCOMPARE(search.countText(), QString());
        fixture.manager().stop(server);
        QVERIFY(fixture.waitForStatus(server.id, ServerStatus::stopped));
    }

    // Lines evicted at the cap take their matches along; when the current
    // match's line leaves, the oldest remaining match becomes current.
    void matchesLeaveWithEvictedLines()
    {
        Test::UiFixture fixture(*m_environment);
        const QUuid id = QUuid::createUuid();
        LogModel log(fixture.manager());
        LogFilterModel shown(log);
        LogSearch search(shown);
        log.setServer(id);
        for (int i = 0; i < ServerManager::maxLogLines; ++i)
            fixture.manager().appendLog(id, i % 100 == 0 ? u"match %1"_s.arg(i) : u"line %1"_s.arg(i), false);
        search.setQuery(u"match"_s);
        QCOMPARE(search.count(), 20);
        search.next(); // wraps to the oldest
        QCOMPARE(search.currentIndex(), 0);
        search.next(); // "match 100"
        search.next(); // "match 200"
        search.next(); // "match 300"
        const LogSearch::Match fourth = *search.current();

        // 150 new lines evict "match 0" and "match 100": the current match moves down two places.
        for (int i = 0; i < 150; ++i)
            fixture.manager().appendLog(id, u"more %1"_s.arg(i), false);
        QCOMPARE(search.count(), 18);
        QCOMPARE(*search.current(), fourth);
        QCOMPARE(search.countText(), u"2 of 18"_s);

        // Its own line leaves too: the oldest remaining match ("match 300") is current.
        search.previous(); // "match 200"
        for (int i = 0; i < 150; ++i)
            fixture.manager().appendLog(id, u"even more %1"_s.arg(i), false);
        QCOMPARE(search.count(), 17);
        QCOMPARE(search.currentIndex(), 0);
        QCOMPARE(
            log.data(log.index(log.rowOfSeq(search.current()->seq)), LogModel::TextRole).toString(), u"match 300"_s);
    }

    // With only error lines shown, only their matches count.
    void searchWithinErrorLines()
    {
        Test::UiFixture fixture(*m_environment);
        const QUuid id = QUuid::createUuid();
        LogModel log(fixture.manager());
        LogFilterModel shown(log);
        LogSearch search(shown);
        log.setServer(id);
        fixture.manager().appendLog(id, u"port 3000 ok"_s, false);
        fixture.manager().appendLog(id, u"port 3000 taken"_s, true);
        fixture.manager().appendLog(id, u"port 3001 ok"_s, false);
        search.setQuery(u"port"_s);
        QCOMPARE(search.count(), 3);
        shown.setErrorsOnly(true);
        QCOMPARE(search.count(), 1);
        QCOMPARE(search.countText(), u"1 of 1"_s);
        fixture.manager().appendLog(id, u"port 3002 taken"_s, true);
        QCOMPARE(search.count(), 2);
        shown.setErrorsOnly(false);
        QCOMPARE(search.count(), 4);
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
};

QTEST_GUILESS_MAIN(TestLogSearch)
#include "TestLogSearch.moc"
