#include "TestEnvironment.h"

#include "control/LineFramer.h"

#include <QTest>

using namespace Wardlamp;

class TestLineFramer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Wardlamp::Test::TestEnvironment>(); }

    void lines_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<bool>("partial"); // an unfinished line is left over
        QTest::addColumn<bool>("overflowed");

        QTest::newRow("one line") << QByteArrayList { "abc\n" } << QByteArrayList { "abc" } << false << false;
        QTest::newRow("two in one read") << QByteArrayList { "a\nb\n" } << QByteArrayList { "a", "b" } << false
                                         << false;
        QTest::newRow("split across reads")
            << QByteArrayList { "ab", "c\nd", "e\n" } << QByteArrayList { "abc", "de" } << false << false;
        QTest::newRow("carriage return line feed")
            << QByteArrayList { "a\r\nb\r", "\n" } << QByteArrayList { "a", "b" } << false << false;
        QTest::newRow("lone carriage return kept")
            << QByteArrayList { "a\rb\n" } << QByteArrayList { "a\rb" } << false << false;
        QTest::newRow("empty lines") << QByteArrayList { "\n\n" } << QByteArrayList { "", "" } << false << false;
        QTest::newRow("unfinished") << QByteArrayList { "a\nbc" } << QByteArrayList { "a" } << true << false;
        QTest::newRow("exactly the bound") << QByteArrayList { QByteArray(16, 'x') + '\n' }
                                           << QByteArrayList { QByteArray(16, 'x') } << false << false;
        QTest::newRow("unfinished past the bound")
            << QByteArrayList { "ok\n", QByteArray(10, 'x'), QByteArray(7, 'x') } << QByteArrayList {} << true << true;
        QTest::newRow("finished line past the bound")
            << QByteArrayList { QByteArray(17, 'x') + "\nnext\n" } << QByteArrayList {} << false << true;
    }

    void lines()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QByteArrayList, lines);
        QFETCH(bool, partial);
        QFETCH(bool, overflowed);

        LineFramer framer(16);
        QByteArrayList taken;
        bool accepted = true;
        for (const QByteArray& chunk : chunks) {
            accepted = framer.append(chunk) && accepted;
            while (const auto line = framer.takeLine())
                taken.append(*line);
        }
        QCOMPARE(framer.isOverflowed(), overflowed);
        // Append itself refuses only an unfinished line past the bound; a
        // finished one is refused when it is taken.
        QCOMPARE(accepted, !(overflowed && partial));
        if (!overflowed) {
            QCOMPARE(taken, lines);
            QCOMPARE(framer.hasPartialLine(), partial);
        }
        // Once over the bound, nothing more comes out.
        if (overflowed) {
            QVERIFY(!framer.append("more\n"));
            QCOMPARE(framer.takeLine(), std::nullopt);
        }
    }

    // A long line sent in many small pieces is found once it ends, without
    // searching the whole buffer again for every piece.
    void longLineInSmallPieces()
    {
        LineFramer framer(8 * 1024 * 1024);
        const QByteArray piece(512, 'x');
        for (int i = 0; i < 8 * 1024; ++i) {
            QVERIFY(framer.append(piece));
            QCOMPARE(framer.takeLine(), std::nullopt);
        }
        QVERIFY(framer.append("\n"));
        const auto line = framer.takeLine();
        QVERIFY(line);
        QCOMPARE(line->size(), qsizetype(4 * 1024 * 1024));
        QVERIFY(!framer.hasPartialLine());
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestLineFramer)
#include "TestLineFramer.moc"
