// The error pattern: the regular expression, its fast path over ASCII bytes and
// the whole-read classifier must give the same answer for every line.

#include "TestEnvironment.h"
#include "supervision/ErrorPattern.h"
#include "supervision/ErrorWords.h"
#include "supervision/LineClassifier.h"
#include "supervision/PortInUse.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

namespace {

constexpr LineClassifier::Kernel kernels[] = { LineClassifier::Kernel::avx512, LineClassifier::Kernel::avx2,
    LineClassifier::Kernel::sse2, LineClassifier::Kernel::scalar };

const char* kernelName(LineClassifier::Kernel kernel)
{
    switch (kernel) {
    case LineClassifier::Kernel::avx512:
        return "avx512";
    case LineClassifier::Kernel::avx2:
        return "avx2";
    case LineClassifier::Kernel::sse2:
        return "sse2";
    case LineClassifier::Kernel::scalar:
        return "scalar";
    case LineClassifier::Kernel::automatic:
        break;
    }
    return "automatic";
}

// What the output thread decides for a line that arrived whole in one read,
// with each marking kernel this CPU can run; the kernels that answer other
// than `expected` (empty when all agree).
QStringList kernelsDisagreeing(const QByteArray& line, bool expected)
{
    QByteArray chunk = line + '\n';
    const qsizetype size = chunk.size();
    chunk.append(QByteArray(LineClassifier::readPastEnd, 'x'));
    QStringList wrong;
    for (const LineClassifier::Kernel kernel : kernels) {
        if (!LineClassifier::forceKernel(kernel))
            continue;
        LineClassifier classifier;
        classifier.scan(chunk.constData(), size);
        if (classifier.isError(0, line.size()) != expected)
            wrong.append(QString::fromLatin1(kernelName(kernel)));
    }
    LineClassifier::forceKernel(LineClassifier::Kernel::automatic);
    return wrong;
}

// Fragments for random lines: the hand-picked ones plus, for every listed word,
// the word in lower and upper case, its first two and three letters, and the
// word one letter short, so a word added to the list is covered at once.
QList<QByteArray> fragments(std::initializer_list<const char*> handPicked)
{
    QList<QByteArray> result;
    for (const char* piece : handPicked)
        result.append(QByteArray(piece));
    for (const std::string_view word : errorWords) {
        const QByteArray lower(word.data(), qsizetype(word.size()));
        result += { lower, lower.toUpper(), lower.left(2), lower.left(3).toUpper(), lower.chopped(1) };
    }
    return result;
}

} // namespace

class TestErrorPattern : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    // Every kernel the CPU offers is checked below; say which ones ran.
    void kernelsAvailable()
    {
        QStringList available;
        for (const LineClassifier::Kernel kernel : kernels) {
            if (LineClassifier::supports(kernel))
                available.append(QString::fromLatin1(kernelName(kernel)));
        }
        qInfo("marking kernels checked: %s", qPrintable(available.join(u' ')));
        QVERIFY(available.contains(QStringLiteral("scalar")));
    }

    // The expression's text is made from the one list of words.
    void patternIsMadeFromTheWordList()
    {
        QCOMPARE(ErrorPattern::pattern,
            QStringView(
                u"(?i)\\b(error|exception|uncaught|unhandled|econnrefused|eaddrinuse|fatal|panic|traceback)\\b"));
        QVERIFY(ErrorPattern::expression().isValid());
    }

    // Every listed word, in any case and between any non-word characters, is
    // an error line on every path; one letter short or longer, it is not.
    void everyListedWordOnEveryPath()
    {
        for (const std::string_view word : errorWords) {
            const QByteArray lower(word.data(), qsizetype(word.size()));
            QByteArray capitalised = lower;
            capitalised[0] = char(capitalised[0] - 'a' + 'A');
            const QList<QPair<QByteArray, bool>> lines { { lower, true }, { lower.toUpper(), true },
                { capitalised, true }, { "[" + lower + "]", true }, { "at 12:00 " + lower + ": x", true },
                { lower.chopped(1), false }, { lower + "s", false }, { "_" + lower, false }, { lower + "9", false },
                { "x" + lower.toUpper(), false } };
            for (const auto& [line, expected] : lines) {
                QVERIFY2(ErrorPattern::matches(QString::fromLatin1(line)) == expected, line.constData());
                QVERIFY2(ErrorPattern::matchesAscii(line) == expected, line.constData());
                const QStringList wrong = kernelsDisagreeing(line, expected);
                QVERIFY2(wrong.isEmpty(), qPrintable(QString::fromLatin1(line) + u": "_s + wrong.join(u',')));
            }
            const QByteArray upper = lower.toUpper();
            const QByteArray longer = lower + "s";
            QVERIFY(isErrorWord(lower.constData(), lower.size()));
            QVERIFY(isErrorWord(upper.constData(), upper.size()));
            QVERIFY(!isErrorWord(lower.constData(), lower.size() - 1));
            QVERIFY(!isErrorWord(longer.constData(), longer.size()));
        }
    }

    void matches_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("expected");
        // Examples of the documented behaviour.
        QTest::newRow("Error:") << QStringLiteral("Error: connect ECONNREFUSED 127.0.0.1:5432") << true;
        QTest::newRow("[ERROR]") << QStringLiteral("[ERROR] db down") << true;
        QTest::newRow("Unhandled rejection") << QStringLiteral("Unhandled rejection at promise") << true;
        QTest::newRow("errors") << QStringLiteral("compiled with errors") << false;
        QTest::newRow("0 errors") << QStringLiteral("webpack: 0 errors, 2 warnings") << false;
        QTest::newRow("ErrorBoundary") << QStringLiteral("<ErrorBoundary> mounted") << false;
        // Every word, any case, at the edges of the line.
        QTest::newRow("exception") << QStringLiteral("java.lang.NullPointerException: x Exception") << true;
        QTest::newRow("uncaught") << QStringLiteral("UNCAUGHT") << true;
        QTest::newRow("econnrefused") << QStringLiteral("connect econnrefused") << true;
        QTest::newRow("eaddrinuse") << QStringLiteral("listen EADDRINUSE: address already in use") << true;
        QTest::newRow("fatal") << QStringLiteral("fatal.") << true;
        QTest::newRow("panic") << QStringLiteral("thread 'main' Panic") << true;
        QTest::newRow("traceback") << QStringLiteral("Traceback (most recent call last):") << true;
        // Word boundaries: letters, digits and _ are word characters.
        QTest::newRow("underscore after") << QStringLiteral("error_code=3") << false;
        QTest::newRow("underscore before") << QStringLiteral("on_error") << false;
        QTest::newRow("digit after") << QStringLiteral("error1") << false;
        QTest::newRow("digit before") << QStringLiteral("2error") << false;
        QTest::newRow("hyphen") << QStringLiteral("my-error-page") << true;
        QTest::newRow("parentheses") << QStringLiteral("(error)") << true;
        QTest::newRow("prefix of word") << QStringLiteral("panicked at") << false;
        QTest::newRow("word inside word") << QStringLiteral("terrorist") << false;
        QTest::newRow("tab") << QStringLiteral("level=\terror") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("long line, word at the end") << (QString(200, u'.') + QStringLiteral(" fatal")) << true;
        QTest::newRow("long line, word across 16-byte blocks")
            << (QString(13, u'x') + QStringLiteral(" exception ") + QString(40, u'y')) << true;
        // Letters and digits of every script are word characters: a listed word
        // glued to them does not stand alone...
        QTest::newRow("caf\u00e9error") << QStringLiteral("caf\u00e9error") << false;
        QTest::newRow("accent before") << QStringLiteral("\u00e9error") << false;
        QTest::newRow("accent after") << QStringLiteral("error\u00e9") << false;
        QTest::newRow("errorn tilde") << QStringLiteral("error\u00f1") << false;
        QTest::newRow("japanese before") << QStringLiteral("\u65e5\u672cerror") << false;
        QTest::newRow("cyrillic after") << QStringLiteral("FATAL\u0436") << false;
        QTest::newRow("greek before") << QStringLiteral("\u03b1panic") << false;
        QTest::newRow("arabic-indic digit after") << QStringLiteral("error\u0663") << false;
        QTest::newRow("accent inside") << QStringLiteral("err\u00f6r") << false;
        QTest::newRow("fullwidth letters") << QStringLiteral("\uff25RROR") << false;
        // ...while punctuation, spaces and symbols of any script are not.
        QTest::newRow("accent, space, word") << QStringLiteral("caf\u00e9 error") << true;
        QTest::newRow("japanese, colon") << QStringLiteral("\u65e5\u672c: Error") << true;
        QTest::newRow("ideographic space") << QStringLiteral("\u65e5\u3000error\u3002") << true;
        QTest::newRow("no-break space") << QStringLiteral("\u00a0Traceback\u00a0") << true;
        QTest::newRow("arrow") << QStringLiteral("\u2192exception\u2190") << true;
        QTest::newRow("emoji") << QStringLiteral("\U0001F525error\U0001F525") << true;
        QTest::newRow("guillemets") << QStringLiteral("\u00abfatal\u00bb") << true;
        // ...but caseless matching folds U+017F LATIN SMALL LETTER LONG S to s.
        QTest::newRow("long s") << QStringLiteral("eaddrinu\u017fe") << true;
        QTest::newRow("replacement char") << QStringLiteral("\uFFFDerror\uFFFD") << true;
    }

    void matches()
    {
        QFETCH(QString, line);
        QFETCH(bool, expected);
        QCOMPARE(ErrorPattern::matches(line), expected);
        const QByteArray utf8 = line.toUtf8();
        QCOMPARE(ErrorPattern::matchesUtf8(utf8), expected);
        if (ErrorPattern::isAscii(utf8)) {
            QCOMPARE(ErrorPattern::matchesAscii(utf8), expected);
            QCOMPARE(kernelsDisagreeing(utf8, expected), QStringList());
        }
    }

    // Characters whose case folding reaches an ASCII letter take the expression:
    // whatever it says, the UTF-8 entry point says too.
    void nonAsciiLinesFollowTheExpression_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("kelvin sign") << QStringLiteral("tracebac\u212a");
        QTest::newRow("long s") << QStringLiteral("econnrefu\u017fed");
        QTest::newRow("dotless i") << QStringLiteral("eaddr\u0131nuse");
        QTest::newRow("capital dotted I") << QStringLiteral("eaddr\u0130nuse");
    }

    void nonAsciiLinesFollowTheExpression()
    {
        QFETCH(QString, line);
        QCOMPARE(ErrorPattern::matchesUtf8(line.toUtf8()), ErrorPattern::matches(line));
    }

    // Random lines of listed words, their fragments and characters from
    // outside ASCII (letters and digits of several scripts, which glue to a
    // word, and punctuation, spaces, symbols and the folding letters, which do
    // not or fold onto one): the UTF-8 entry point, with its pre-check, agrees
    // with the expression on every one, and the pre-check never rules out a
    // line the expression matches.
    void utf8PathAgreesWithExpressionOnNonAsciiLines()
    {
        static const QStringList pieces { QStringLiteral("error"), QStringLiteral("Error"), QStringLiteral("ERR"),
            QStringLiteral("or"), QStringLiteral("fatal"), QStringLiteral("panic"), QStringLiteral("pa"),
            QStringLiteral("traceback"), QStringLiteral("tracebac"), QStringLiteral("econnrefu"),
            QStringLiteral("eaddrinu"), QStringLiteral("EADDRINUSE"), QStringLiteral("exception"),
            QStringLiteral("uncaught"), QStringLiteral("unhandled"), QStringLiteral("e"), QStringLiteral("d"),
            QStringLiteral(" "), QStringLiteral(":"), QStringLiteral("_"), QStringLiteral("1"), QStringLiteral("-"),
            QStringLiteral("\u00e9"), QStringLiteral("\u00f1"), QStringLiteral("\u00c9"),
            QStringLiteral("\u65e5\u672c"), QStringLiteral("\u0436"), QStringLiteral("\u03b1"),
            QStringLiteral("\u0663"), QStringLiteral("\u0915"), QStringLiteral("\u05d0"), QStringLiteral("\u212a"),
            QStringLiteral("\u017f"), QStringLiteral("\u0131"), QStringLiteral("\u0130"), QStringLiteral("\u0301"),
            QStringLiteral("\u00a0"), QStringLiteral("\u3000"), QStringLiteral("\u2192"), QStringLiteral("\U0001F525"),
            QStringLiteral("\uFFFD"), QStringLiteral("\uff45\uff52\uff52\uff4f\uff52") };
        QRandomGenerator random(9090);
        for (int i = 0; i < 20000; ++i) {
            QString line;
            const int count = random.bounded(1, 10);
            for (int k = 0; k < count; ++k)
                line += pieces[random.bounded(pieces.size())];
            const QByteArray utf8 = line.toUtf8();
            const bool expected = ErrorPattern::matches(line);
            if (ErrorPattern::matchesUtf8(utf8) != expected || (expected && !ErrorPattern::mayMatchNonAscii(utf8)))
                QFAIL(qPrintable(QStringLiteral("disagreement on: ") + line));
        }
    }

    // Random lines built from fragments of the words: the fast paths agree with
    // the expression on every one.
    void fastPathsAgreeWithExpressionOnRandomLines()
    {
        static const QList<QByteArray> pieces = fragments({ "error", "Error", "ERR", "or", "exception", "uncaught",
            "unhandled", "econnrefused", "EADDRINUSE", "fatal", "panic", "traceback", "pa", "tr", "un", "ea", "ex",
            "ec", "er", "_", "1", " ", ":", "-", ".", "s", "x", "\t", "[", "]", "/", "fa", "in use", "e", "t" });
        QRandomGenerator random(4242);
        for (int i = 0; i < 20000; ++i) {
            QByteArray line;
            const int count = random.bounded(1, 12);
            for (int k = 0; k < count; ++k)
                line += pieces[random.bounded(pieces.size())];
            const bool expected = ErrorPattern::matches(QString::fromLatin1(line));
            const QStringList wrong = kernelsDisagreeing(line, expected);
            if (ErrorPattern::matchesAscii(line) != expected || !wrong.isEmpty())
                QFAIL(qPrintable(QStringLiteral("disagreement on: ") + QString::fromLatin1(line) + QStringLiteral(" (")
                    + wrong.join(u',') + u')'));
        }
    }

    // The same random lines back to back in one chunk, so that words and line
    // ends fall on every position of the kernels' 16-, 32- and 64-byte blocks.
    void everyKernelAgreesAcrossBlockBoundaries()
    {
        static const QList<QByteArray> pieces = fragments(
            { "error", "Error", "ERR", "or", "exception", "uncaught", "unhandled", "econnrefused", "EADDRINUSE",
                "fatal", "panic", "traceback", "pa", "tr", "un", "ea", "ex", "ec", "er", "_", "1", " ", ":", "-", ".",
                "s", "x", "\t", "[", "]", "/", "fa", "in use", "port", "e", "t", "\r", "\x1b[31m", "\x1b" });
        QRandomGenerator random(777);
        QByteArray chunk;
        QList<QPair<qsizetype, qsizetype>> lines;
        while (chunk.size() < 256 * 1024) {
            const qsizetype begin = chunk.size();
            const int count = random.bounded(0, 16);
            for (int k = 0; k < count; ++k)
                chunk += pieces[random.bounded(pieces.size())];
            lines.append({ begin, chunk.size() });
            chunk += '\n';
        }
        const qsizetype size = chunk.size();
        chunk.append(QByteArray(LineClassifier::readPastEnd, 'r'));
        for (const LineClassifier::Kernel kernel : kernels) {
            if (!LineClassifier::forceKernel(kernel))
                continue;
            LineClassifier classifier;
            classifier.scan(chunk.constData(), size);
            LineClassifier::forceKernel(LineClassifier::Kernel::automatic);
            for (const auto& [begin, end] : std::as_const(lines)) {
                const QByteArray line = chunk.mid(begin, end - begin);
                QCOMPARE(classifier.findNewline(begin), end);
                const bool error = ErrorPattern::matches(QString::fromLatin1(line));
                const bool port = PortInUse::mayMentionAscii(line);
                const LineClassifier::Facts facts = classifier.facts(begin, end);
                // A line with ESC is left to the caller, like a non-ASCII one.
                if (line.contains('\x1b')) {
                    if (facts.ascii)
                        QFAIL(qPrintable(QStringLiteral("%1 calls a line with ESC plain at offset %2")
                                             .arg(QString::fromLatin1(kernelName(kernel)))
                                             .arg(begin)));
                    continue;
                }
                if (facts.error != error || classifier.isError(begin, end) != error || facts.mayMentionPort != port
                    || !facts.ascii)
                    QFAIL(qPrintable(QStringLiteral("%1 disagrees at offset %2 on: %3")
                                         .arg(QString::fromLatin1(kernelName(kernel)))
                                         .arg(begin)
                                         .arg(QString::fromLatin1(line))));
            }
        }
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestErrorPattern)
#include "TestErrorPattern.moc"
