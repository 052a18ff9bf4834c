// Line assembly across reads: line ends, UTF-8 repair, the length bound, and
// the hinted path of whole lines in a scanned read.

#include "TestEnvironment.h"
#include "supervision/LineAssembler.h"
#include "supervision/LineClassifier.h"
#include "supervision/PortInUse.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace Wardlamp;

namespace {

struct Collected {
    QList<QByteArray> lines;
    QList<bool> hinted;
};

Collected assemble(const QList<QByteArray>& reads, bool scan)
{
    LineAssembler assembler;
    LineClassifier classifier;
    Collected out;
    auto sink = [&out](QByteArrayView line, bool, const LineHints* hints) {
        out.lines.append(line.toByteArray());
        out.hinted.append(hints != nullptr);
    };
    for (const QByteArray& read : reads) {
        QByteArray buffer = read;
        buffer.append(QByteArray(LineClassifier::readPastEnd, '\0'));
        if (scan)
            classifier.scan(buffer.constData(), read.size());
        assembler.feed(QByteArrayView(buffer.constData(), read.size()), sink, scan ? &classifier : nullptr);
    }
    assembler.finish(sink);
    return out;
}

} // namespace

class TestLineAssembler : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    void assemble_data()
    {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<QList<QByteArray>>("lines");
        const QByteArray big(LineAssembler::maxLineBytes, 'x');
        QTest::newRow("empty lines are handed out")
            << QList<QByteArray> { "a\n\nb\n" } << QList<QByteArray> { "a", "", "b" };
        QTest::newRow("line split across reads")
            << QList<QByteArray> { "ab", "c", "d\ne", "f\n" } << QList<QByteArray> { "abcd", "ef" };
        QTest::newRow("crlf") << QList<QByteArray> { "x\r\ny\r\n" } << QList<QByteArray> { "x", "y" };
        QTest::newRow("crlf split across reads")
            << QList<QByteArray> { "x\r", "\ny\n" } << QList<QByteArray> { "x", "y" };
        QTest::newRow("lone cr stays") << QList<QByteArray> { "a\rb\n" } << QList<QByteArray> { "a\rb" };
        QTest::newRow("final line without lf")
            << QList<QByteArray> { "one\ntail" } << QList<QByteArray> { "one", "tail" };
        QTest::newRow("final cr without lf stays") << QList<QByteArray> { "tail\r" } << QList<QByteArray> { "tail\r" };
        QTest::newRow("utf8 split across reads")
            << QList<QByteArray> { "caf\xc3", "\xa9\n" } << QList<QByteArray> { "caf\xc3\xa9" };
        QTest::newRow("4-byte char over three reads")
            << QList<QByteArray> { "\xf0\x9f", "\x98", "\x80!\n" } << QList<QByteArray> { "\xf0\x9f\x98\x80!" };
        QTest::newRow("invalid byte replaced") << QList<QByteArray> { "a\xff"
                                                                      "b\n" }
                                               << QList<QByteArray> { "a\xef\xbf\xbd"
                                                                      "b" };
        QTest::newRow("truncated sequence at line end")
            << QList<QByteArray> { "\xe2\x82\n" } << QList<QByteArray> { "\xef\xbf\xbd\xef\xbf\xbd" };
        QTest::newRow("truncated sequence at stream end")
            << QList<QByteArray> { "ok\n\xc3" } << QList<QByteArray> { "ok", "\xef\xbf\xbd" };
        QTest::newRow("exactly the bound") << QList<QByteArray> { big + '\n' } << QList<QByteArray> { big };
        QTest::newRow("past the bound, one read")
            << QList<QByteArray> { big + "0123456789\n" } << QList<QByteArray> { big, "0123456789" };
        QTest::newRow("past the bound, no lf, many reads")
            << QList<QByteArray>(70, QByteArray(1000, 'y'))
            << QList<QByteArray> { QByteArray(LineAssembler::maxLineBytes, 'y'),
                   QByteArray(70000 - LineAssembler::maxLineBytes, 'y') };
        QTest::newRow("cut never tears a character")
            << QList<QByteArray> { QByteArray(LineAssembler::maxLineBytes - 1, 'a') + "\xc3\xa9z\n" }
            << QList<QByteArray> { QByteArray(LineAssembler::maxLineBytes - 1, 'a'), "\xc3\xa9z" };
    }

    void assemble()
    {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(QList<QByteArray>, lines);
        QCOMPARE(::assemble(reads, false).lines, lines);
        // The scanned path hands out the very same lines.
        QCOMPARE(::assemble(reads, true).lines, lines);
    }

    void cutPosition_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("cut");
        QTest::newRow("ascii") << QByteArray("abcdef") << 4 << 4;
        QTest::newRow("short line") << QByteArray("ab") << 4 << 2;
        QTest::newRow("inside 2-byte char") << QByteArray("abc\xc3\xa9") << 4 << 3;
        QTest::newRow("inside 4-byte char") << QByteArray("a\xf0\x9f\x98\x80") << 3 << 1;
        QTest::newRow("stray continuation bytes") << QByteArray("\x80\x80\x80\x80\x80\x80") << 5 << 5;
    }

    void cutPosition()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, limit);
        QFETCH(int, cut);
        QCOMPARE(LineAssembler::cutPosition(line, limit), qsizetype(cut));
    }

    // Whole lines of a scanned read come with hints equal to the per-line checks;
    // lines that began in an earlier read come without.
    void hintsMatchPerLineChecks()
    {
        const QList<QByteArray> reads { "start of a line that spans ", "reads: Error here\nplain line\n",
            "Failed: port 3000 in use?\nuser=dev page=2 agent=x\nEADDRINUSE :80\n"
            "half an err",
            "or\n" };
        LineAssembler assembler;
        LineClassifier classifier;
        int hinted = 0;
        auto sink = [&](QByteArrayView line, bool ascii, const LineHints* hints) {
            QVERIFY(ascii);
            if (!hints)
                return;
            ++hinted;
            QCOMPARE(hints->error, ErrorPattern::matchesAscii(line));
            QCOMPARE(hints->mayMentionPort, PortInUse::mayMentionAscii(line));
        };
        for (const QByteArray& read : reads) {
            const QByteArray buffer = read + QByteArray(LineClassifier::readPastEnd, '\0');
            classifier.scan(buffer.constData(), read.size());
            assembler.feed(QByteArrayView(buffer.constData(), read.size()), sink, &classifier);
        }
        assembler.finish(sink);
        QCOMPARE(hinted, 4);
    }

    // Random text in random reads, so that line ends, marks and read ends fall
    // on every position of the 64-byte blocks of marks: the scanned path hands
    // out the same lines as the plain one, and every hint equals the per-line checks.
    void scannedPathAgreesOnRandomReads()
    {
        static const char* const pieces[]
            = { "error", "Err", "in use", "EADDRINUSE", "pa", "path", "un", "\n", "\n", "\r\n", "\r", " ", "x",
                  "caf\xc3\xa9", "\xff", "seq 0000001 GET /api/items?page=12 200 3ms", "fatal", "_", "n u", "nus" };
        QRandomGenerator random(99);
        QByteArray text;
        while (text.size() < 256 * 1024)
            text += pieces[random.bounded(int(std::size(pieces)))];
        text += QByteArray(LineAssembler::maxLineBytes + 100, 'z') + '\n';
        QList<QByteArray> reads;
        for (qsizetype at = 0; at < text.size();) {
            const qsizetype size = std::min<qsizetype>(text.size() - at, random.bounded(1, 9000));
            reads.append(text.mid(at, size));
            at += size;
        }
        int hinted = 0;
        LineAssembler assembler;
        LineClassifier classifier;
        QList<QByteArray> lines;
        auto sink = [&](QByteArrayView line, bool, const LineHints* hints) {
            lines.append(line.toByteArray());
            if (!hints)
                return;
            ++hinted;
            if (hints->error != ErrorPattern::matchesAscii(line)
                || hints->mayMentionPort != PortInUse::mayMentionAscii(line))
                QFAIL(qPrintable(QStringLiteral("wrong hints for: ") + QString::fromLatin1(line)));
        };
        for (const QByteArray& read : std::as_const(reads)) {
            const QByteArray buffer = read + QByteArray(LineClassifier::readPastEnd, 'e');
            classifier.scan(buffer.constData(), read.size());
            assembler.feed(QByteArrayView(buffer.constData(), read.size()), sink, &classifier);
        }
        assembler.finish(sink);
        QCOMPARE(lines, ::assemble(reads, false).lines);
        QVERIFY(hinted > 1000);
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestLineAssembler)
#include "TestLineAssembler.moc"
