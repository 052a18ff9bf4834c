// ChangeBatch: what one batch of a manager's changes announces per server, by
// tables. The signals it turns into are checked with real children in
// TestServerManager.

#include "supervision/ChangeBatch.h"

#include <QtTest>

#include <optional>

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
        QCOMPARE(int(change.lines().size()), tapped);
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

    // Output lines read in the output thread's table, status lines between
    // them: linesCaptured sees one batch, in order, numbered, with each line's
    // text and error flag; copies of it read the same.
    void outputAndStatusLinesInOrder()
    {
        const QByteArray text = "GET /\nboom\nnext\nlast";
        const RawLine table[] = {
            { text.data(), 5, 0 },
            { text.data() + 6, 4, RawLine::error | RawLine::standardError },
            { text.data() + 11, 4, 0 },
            { text.data() + 16, 4, 0 },
        };
        const QUuid id = QUuid::createUuid();
        ChangeBatch batch;
        ChangeBatch::Server& change = batch.server(id);
        ChangeBatch::lineAppended(change, 10, "started", false);
        ChangeBatch::outputAppended(change, table, 2, 11);
        ChangeBatch::outputAppended(change, table + 2, 0, 13); // nothing
        ChangeBatch::lineAppended(change, 13, "port", true);
        ChangeBatch::outputAppended(change, table + 2, 2, 14);
        QCOMPARE(change.firstSeq, quint64(10));
        QCOMPARE(change.count, 6);

        const CapturedLines lines = change.lines();
        const QList<quint64> seqs { 10, 11, 12, 13, 14, 15 };
        const QList<QByteArray> texts { "started", "GET /", "boom", "port", "next", "last" };
        const QList<bool> errors { false, false, true, true, false, false };
        for (const CapturedLines& view : { lines, CapturedLines(lines) }) {
            QCOMPARE(view.size(), std::size_t(6));
            QList<quint64> seenSeqs;
            QList<QByteArray> seenTexts;
            QList<bool> seenErrors;
            for (const CapturedLine& line : view) {
                seenSeqs.append(line.seq);
                seenTexts.append(line.text.toByteArray());
                seenErrors.append(line.isError);
            }
            QCOMPARE(seenSeqs, seqs);
            QCOMPARE(seenTexts, texts);
            QCOMPARE(seenErrors, errors);
            QCOMPARE(view[4].text, "next");
            QCOMPARE(view.front().seq, quint64(10));
            QCOMPARE(view.back().seq, quint64(15));
        }
    }

    // A batch made from one array of lines, as a consumer's test builds one;
    // a copy must read its own run, not the original's.
    void oneArrayOfLines()
    {
        std::vector<CapturedLine> array { { 1, "a", false }, { 2, "b", true } };
        std::vector<CapturedLine> other { { 7, "zz", false } };
        std::optional<CapturedLines> original(std::in_place, array);
        const CapturedLines copy = *original;
        original.emplace(other); // the original's own run now reads another array
        QCOMPARE(copy.size(), std::size_t(2));
        QCOMPARE(copy.back().text, "b");
        QVERIFY(copy.back().isError);
        QVERIFY(CapturedLines(std::vector<CapturedLine>()).empty());
        QVERIFY(CapturedLines().begin() == CapturedLines().end());
    }
};

QTEST_GUILESS_MAIN(TestChangeBatch)
#include "TestChangeBatch.moc"
