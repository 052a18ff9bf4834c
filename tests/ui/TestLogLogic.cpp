// The log window's pure parts, by tables: how a line's escape sequences
// become shown text and styles (malformed and truncated ones included), the
// colours they stand for, what Copy gives, search matches, the selection,
// and how a previous run ended.
#include "supervision/PreviousRun.h"
#include "ui/logic/AnsiText.h"
#include "ui/logic/LogText.h"
#include "ui/logic/LogTextSelection.h"
#include "ui/logic/RunEndingText.h"
#include "ui/logic/TerminalPalette.h"
#include "ui/logic/TextMatches.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;

Q_DECLARE_METATYPE(Wardlamp::StyledLine)
Q_DECLARE_METATYPE(Wardlamp::TextStyle)
Q_DECLARE_METATYPE(QList<Wardlamp::TextMatches::Range>)
Q_DECLARE_METATYPE(Wardlamp::PreviousRun)
Q_DECLARE_METATYPE(Wardlamp::LogTextPoint)
Q_DECLARE_METATYPE(QList<Wardlamp::LogText::Line>)

namespace {

TextStyle foreground(int index)
{
    TextStyle style;
    style.foreground = TerminalColour::indexed(index);
    return style;
}

TextStyle background(int index)
{
    TextStyle style;
    style.background = TerminalColour::indexed(index);
    return style;
}

TextStyle rgb(int r, int g, int b)
{
    TextStyle style;
    style.foreground = TerminalColour::fromRgb(r, g, b);
    return style;
}

TextStyle with(TextStyle style, bool TextStyle::*flag)
{
    style.*flag = true;
    return style;
}

StyledLine plain(const QString& text)
{
    return StyledLine { text, {} };
}

StyledLine styled(const QString& text, QList<StyledRun> runs)
{
    return StyledLine { text, std::move(runs) };
}

QString describe(const StyledLine& line)
{
    QString out = u'"' + line.text + u'"';
    for (const StyledRun& run : line.runs) {
        out += u" [%1+%2 fg%3:%4 bg%5:%6 b%7d%8i%9"_s.arg(run.start)
                   .arg(run.length)
                   .arg(int(run.style.foreground.kind))
                   .arg(run.style.foreground.kind == TerminalColour::Kind::rgb ? run.style.foreground.rgb
                                                                               : run.style.foreground.index)
                   .arg(int(run.style.background.kind))
                   .arg(run.style.background.index)
                   .arg(run.style.bold)
                   .arg(run.style.dim)
                   .arg(run.style.italic)
            + u" u%1v%2s%3]"_s.arg(run.style.underline).arg(run.style.inverse).arg(run.style.strikeOut);
    }
    return out;
}

PreviousRun ended(RunEnding::Cause cause, int code, bool requested, const QDateTime& at)
{
    PreviousRun run;
    run.ending = RunEnding { cause, code, requested, at };
    return run;
}

} // namespace

class TestLogLogic : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<StyledLine>("expected");

        QTest::newRow("plain text") << QByteArray("hello, world") << plain(u"hello, world"_s);
        QTest::newRow("utf-8 and a tab") << QByteArray("caf\xc3\xa9\t\xe6\x97\xa5") << plain(u"café\t日"_s);
        QTest::newRow("16 colours and reset") << QByteArray("\x1b[31mError\x1b[0m: boom")
                                              << styled(u"Error: boom"_s, { StyledRun { 0, 5, foreground(1) } });
        QTest::newRow("bright foreground, background")
            << QByteArray("\x1b[92mok\x1b[39m \x1b[44mblue\x1b[49m")
            << styled(u"ok blue"_s, { StyledRun { 0, 2, foreground(10) }, StyledRun { 3, 4, background(4) } });
        QTest::newRow("bright background") << QByteArray("\x1b[103mx") << styled(u"x"_s, { { 0, 1, background(11) } });
        QTest::newRow("256 colours, semicolons")
            << QByteArray("\x1b[38;5;208mA\x1b[48;5;17mB")
            << styled(u"AB"_s, { StyledRun { 0, 1, foreground(208) }, StyledRun { 1, 1, [] {
                                                                                     TextStyle s = foreground(208);
                                                                                     s.background
                                                                                         = TerminalColour::indexed(17);
                                                                                     return s;
                                                                                 }() } });
        QTest::newRow("true colour, semicolons")
            << QByteArray("\x1b[38;2;255;128;0mhot") << styled(u"hot"_s, { { 0, 3, rgb(255, 128, 0) } });
        QTest::newRow("true colour, colons with colour space")
            << QByteArray("\x1b[38:2::1:2:3mx") << styled(u"x"_s, { { 0, 1, rgb(1, 2, 3) } });
        QTest::newRow("true colour, colons without colour space")
            << QByteArray("\x1b[38:2:1:2:3mx") << styled(u"x"_s, { { 0, 1, rgb(1, 2, 3) } });
        QTest::newRow("256 colours, colons")
            << QByteArray("\x1b[38:5:99mx") << styled(u"x"_s, { { 0, 1, foreground(99) } });
        QTest::newRow("attributes and their resets")
            << QByteArray(
                   "\x1b[1mB\x1b[22m\x1b[2mD\x1b[22m\x1b[3mI\x1b[23m\x1b[4mU\x1b[24m\x1b[7mV\x1b[27m\x1b[9mS\x1b[29m.")
            << styled(u"BDIUVS."_s,
                   { { 0, 1, with({}, &TextStyle::bold) }, { 1, 1, with({}, &TextStyle::dim) },
                       { 2, 1, with({}, &TextStyle::italic) }, { 3, 1, with({}, &TextStyle::underline) },
                       { 4, 1, with({}, &TextStyle::inverse) }, { 5, 1, with({}, &TextStyle::strikeOut) } });
        QTest::newRow("several codes in one sequence")
            << QByteArray("\x1b[1;4;32mgo") << styled(u"go"_s, { { 0, 2, [] {
                                                                      TextStyle s = foreground(2);
                                                                      s.bold = true;
                                                                      s.underline = true;
                                                                      return s;
                                                                  }() } });
        QTest::newRow("empty sequence resets")
            << QByteArray("\x1b[31ma\x1b[mb") << styled(u"ab"_s, { { 0, 1, foreground(1) } });
        QTest::newRow("empty parameter resets")
            << QByteArray("\x1b[1;;32ma") << styled(u"a"_s, { { 0, 1, foreground(2) } });
        QTest::newRow("same style runs merge")
            << QByteArray("\x1b[31ma\x1b[31mb") << styled(u"ab"_s, { { 0, 2, foreground(1) } });
        QTest::newRow("underline off by sub-parameter")
            << QByteArray("\x1b[4ma\x1b[4:0mb") << styled(u"ab"_s, { { 0, 1, with({}, &TextStyle::underline) } });
        QTest::newRow("style ends with the line, not carried") << QByteArray("\x1b[31m") << plain(QString());

        // Malformed and truncated.
        QTest::newRow("256 colour index out of range") << QByteArray("\x1b[38;5;300mx") << plain(u"x"_s);
        QTest::newRow("true colour component out of range") << QByteArray("\x1b[38;2;256;0;0mx") << plain(u"x"_s);
        QTest::newRow("extended colour cut short uses up what is there")
            << QByteArray("\x1b[38;5mx\x1b[38;2;1;2mY") << plain(u"xY"_s);
        QTest::newRow("extended colour values are not codes")
            << QByteArray("\x1b[38;5;1mx") << styled(u"x"_s, { { 0, 1, foreground(1) } });
        QTest::newRow("underline colour read and not shown")
            << QByteArray("\x1b[58;5;1;31mx") << styled(u"x"_s, { { 0, 1, foreground(1) } });
        QTest::newRow("huge parameter ignored")
            << QByteArray("\x1b[99999999999999999999;31mx") << styled(u"x"_s, { { 0, 1, foreground(1) } });
        QTest::newRow("unknown codes ignored")
            << QByteArray("\x1b[5;8;53;31mx") << styled(u"x"_s, { { 0, 1, foreground(1) } });
        QTest::newRow("private sgr-like is not a colour") << QByteArray("\x1b[>4;2mx") << plain(u"x"_s);
        QTest::newRow("intermediate byte is not a colour") << QByteArray("\x1b[3$1mx") << plain(u"x"_s);
        QTest::newRow("unfinished sgr at the end") << QByteArray("tail\x1b[31") << plain(u"tail"_s);
        QTest::newRow("lone escape at the end") << QByteArray("end\x1b") << plain(u"end"_s);
        QTest::newRow("csi broken by text beyond ascii") << QByteArray("a\x1b[3\xc3\xa9") << plain(u"aé"_s);
        QTest::newRow("tail of a sequence cut in two is text") << QByteArray("[31mred") << plain(u"[31mred"_s);

        // Everything else is dropped.
        QTest::newRow("cursor movement and clear screen")
            << QByteArray("a\x1b[10;20Hb\x1b[2J\x1b[Kc\x1b[?25l") << plain(u"abc"_s);
        QTest::newRow("window title") << QByteArray("\x1b]0;title\x07ok") << plain(u"ok"_s);
        QTest::newRow("hyperlink keeps its text")
            << QByteArray("\x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\") << plain(u"link"_s);
        QTest::newRow("unfinished osc swallows the rest") << QByteArray("a\x1b]0;title and more") << plain(u"a"_s);
        QTest::newRow("carriage return, backspace, bell") << QByteArray("50%\r100%\x08!\x07") << plain(u"50%100%!"_s);
        QTest::newRow("nul and delete") << QByteArray("a\0b\x7f"
                                                      "c",
            5) << plain(u"abc"_s);
        QTest::newRow("8-bit csi colour") << QByteArray("a\xc2\x9b"
                                                        "32mb")
                                          << styled(u"ab"_s, { { 1, 1, foreground(2) } });
        QTest::newRow("other c1 control") << QByteArray("a\xc2\x85"
                                                        "b")
                                          << plain(u"ab"_s);
        QTest::newRow("replacement characters stay")
            << QByteArray("bad \xef\xbf\xbd byte") << plain(u"bad \ufffd byte"_s);
    }

    void parse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(StyledLine, expected);
        const StyledLine line = AnsiText::parse(bytes);
        QCOMPARE(describe(line), describe(expected));
        QCOMPARE(line, expected);
        QCOMPARE(AnsiText::plainText(bytes), expected.text);
    }

    // Every byte value, and millions of escape bytes: no crash, nothing but text left.
    void hostileBytes()
    {
        QByteArray every;
        for (int repeat = 0; repeat < 4; ++repeat)
            for (int byte = 0; byte < 256; ++byte)
                every.append(char(byte));
        const QByteArray valid = QString::fromUtf8(every).toUtf8(); // as the log keeps it
        const StyledLine line = AnsiText::parse(valid);
        for (const QChar c : line.text)
            QVERIFY2(c.unicode() >= 0x20 || c == u'\t', qPrintable(u"control %1 shown"_s.arg(c.unicode())));
        QCOMPARE(AnsiText::plainText(valid), line.text);

        const QByteArray escapes(4 * 1024 * 1024, '\x1b');
        QVERIFY(AnsiText::parse(escapes).text.isEmpty());
        const QByteArray sequences = QByteArray("\x1b[31m").repeated(200000) + "x";
        const StyledLine red = AnsiText::parse(sequences);
        QCOMPARE(red.text, u"x"_s);
        QCOMPARE(red.runs.size(), 1);
    }

    void indexedColours_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("cube black") << 16 << QColor(0, 0, 0);
        QTest::newRow("cube orange 208") << 208 << QColor(255, 135, 0);
        QTest::newRow("cube white") << 231 << QColor(255, 255, 255);
        QTest::newRow("grey ramp start") << 232 << QColor(8, 8, 8);
        QTest::newRow("grey ramp end") << 255 << QColor(238, 238, 238);
    }

    void indexedColours()
    {
        QFETCH(int, index);
        QFETCH(QColor, colour);
        QCOMPARE(TerminalPalette::indexedColour(index, false), colour);
        QCOMPARE(TerminalPalette::indexedColour(index, true), colour);
    }

    // The named colours stay readable on their background: yellow and white
    // are not used as is on a light one.
    void namedColoursReadable()
    {
        auto contrast = [](const QColor& a, const QColor& b) {
            auto luminance = [](const QColor& c) {
                auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
                return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
            };
            const double la = luminance(a) + 0.05;
            const double lb = luminance(b) + 0.05;
            return std::max(la, lb) / std::min(la, lb);
        };
        for (int index = 1; index < 16; ++index) {
            if (index == 7 || index == 8)
                continue; // the greys are meant to be quiet
            QVERIFY2(contrast(TerminalPalette::indexedColour(index, false), Qt::white) >= 3.0,
                qPrintable(QString::number(index)));
            QVERIFY2(contrast(TerminalPalette::indexedColour(index, true), QColor(0x1e, 0x1e, 0x1e)) >= 3.0,
                qPrintable(QString::number(index)));
        }
    }

    void formats_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("isError");
        QTest::addColumn<QColor>("foreground"); // invalid: not set
        QTest::addColumn<QColor>("background"); // invalid: not set
        QTest::addColumn<bool>("bold");
        const QColor red = TerminalPalette::indexedColour(1, false);
        QTest::newRow("colour on a normal line") << QByteArray("\x1b[31mx") << false << red << QColor() << false;
        QTest::newRow("error line stays red") << QByteArray("\x1b[32;44;1mx") << true << QColor() << QColor() << true;
        QTest::newRow("inverse swaps") << QByteArray("\x1b[7mx") << false << QColor(Qt::white) << QColor(Qt::black)
                                       << false;
        QTest::newRow("inverse ignored on an error line")
            << QByteArray("\x1b[7mx") << true << QColor() << QColor() << false;
        QTest::newRow("true colour") << QByteArray("\x1b[38;2;1;2;3mx") << false << QColor(1, 2, 3) << QColor()
                                     << false;
    }

    void formats()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, isError);
        QFETCH(QColor, foreground);
        QFETCH(QColor, background);
        QFETCH(bool, bold);
        const QColor text = isError ? QColor(0xc9, 0x2a, 0x2a) : QColor(Qt::black);
        const auto ranges = TerminalPalette::formats(AnsiText::parse(bytes), text, Qt::white, false, isError);
        if (!foreground.isValid() && !background.isValid() && !bold) {
            QVERIFY(ranges.isEmpty());
            return;
        }
        QCOMPARE(ranges.size(), 1);
        const QTextCharFormat& format = ranges.first().format;
        QCOMPARE(format.hasProperty(QTextFormat::ForegroundBrush), foreground.isValid());
        if (foreground.isValid())
            QCOMPARE(format.foreground().color(), foreground);
        QCOMPARE(format.hasProperty(QTextFormat::BackgroundBrush), background.isValid());
        if (background.isValid())
            QCOMPARE(format.background().color(), background);
        QCOMPARE(format.fontWeight() == QFont::Bold, bold);
    }

    void copyText_data()
    {
        QTest::addColumn<QList<LogText::Line>>("lines");
        QTest::addColumn<QString>("text");
        const qint64 at = QDateTime(QDate(2026, 12, 10), QTime(9, 5, 7)).toMSecsSinceEpoch();
        QTest::newRow("no lines: the empty text") << QList<LogText::Line>() << QString();
        QTest::newRow("one line, no line feed after it")
            << QList<LogText::Line> { { at, u"ready"_s } } << u"09:05:07  ready"_s;
        QTest::newRow("lines joined by line feeds")
            << QList<LogText::Line> { { at, u"a"_s }, { at + 3723000, QString() }, { at + 1000, u"  c "_s } }
            << u"09:05:07  a\n10:07:10  \n09:05:08    c "_s;
    }

    void copyText()
    {
        QFETCH(QList<LogText::Line>, lines);
        QFETCH(QString, text);
        QCOMPARE(LogText::copyText(lines), text);
    }

    void matches_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QList<TextMatches::Range>>("ranges");
        using R = TextMatches::Range;
        QTest::newRow("none") << u"hello"_s << u"x"_s << QList<R>();
        QTest::newRow("empty query") << u"hello"_s << QString() << QList<R>();
        QTest::newRow("ignoring case, every one")
            << u"Error error ERROR"_s << u"error"_s << QList<R> { { 0, 5 }, { 6, 5 }, { 12, 5 } };
        QTest::newRow("never overlapping") << u"aaaa"_s << u"aa"_s << QList<R> { { 0, 2 }, { 2, 2 } };
        QTest::newRow("beyond ascii") << u"Straße STRASSE"_s << u"straße"_s << QList<R> { { 0, 6 } };
    }

    void matches()
    {
        QFETCH(QString, text);
        QFETCH(QString, query);
        QFETCH(QList<TextMatches::Range>, ranges);
        QCOMPARE(TextMatches::find(text, query), ranges);
    }

    void selection_data()
    {
        QTest::addColumn<LogTextPoint>("anchor");
        QTest::addColumn<LogTextPoint>("focus");
        QTest::addColumn<quint64>("seq");
        QTest::addColumn<int>("start"); // -1: nothing selected in the line
        QTest::addColumn<int>("length");
        QTest::newRow("nothing when anchor is focus")
            << LogTextPoint { 5, 2 } << LogTextPoint { 5, 2 } << 5ull << -1 << 0;
        QTest::newRow("within one line") << LogTextPoint { 5, 2 } << LogTextPoint { 5, 6 } << 5ull << 2 << 4;
        QTest::newRow("backwards") << LogTextPoint { 5, 6 } << LogTextPoint { 5, 2 } << 5ull << 2 << 4;
        QTest::newRow("first line to its end") << LogTextPoint { 5, 2 } << LogTextPoint { 7, 1 } << 5ull << 2 << 8;
        QTest::newRow("line in between, whole") << LogTextPoint { 7, 1 } << LogTextPoint { 5, 2 } << 6ull << 0 << 10;
        QTest::newRow("last line to the focus") << LogTextPoint { 5, 2 } << LogTextPoint { 7, 1 } << 7ull << 0 << 1;
        QTest::newRow("outside") << LogTextPoint { 5, 2 } << LogTextPoint { 7, 1 } << 8ull << -1 << 0;
        QTest::newRow("offset past the end clamps")
            << LogTextPoint { 5, 4 } << LogTextPoint { 5, 99 } << 5ull << 4 << 6;
    }

    void selection()
    {
        QFETCH(LogTextPoint, anchor);
        QFETCH(LogTextPoint, focus);
        QFETCH(quint64, seq);
        QFETCH(int, start);
        QFETCH(int, length);
        LogTextSelection selection;
        selection.start(anchor);
        selection.extend(focus);
        const auto range = selection.rangeIn(seq, 10);
        if (start < 0) {
            QVERIFY(!range);
            return;
        }
        QVERIFY(range);
        QCOMPARE(range->start, start);
        QCOMPARE(range->length, length);
    }

    void runEnding_data()
    {
        QTest::addColumn<PreviousRun>("run");
        QTest::addColumn<QString>("text");
        const QDateTime at(QDate(2026, 12, 10), QTime(14, 2, 11));
        QTest::newRow("crash") << ended(RunEnding::Cause::exited, 1, false, at)
                               << u"Ended 14:02:11 · exited with code 1"_s;
        QTest::newRow("exit 0") << ended(RunEnding::Cause::exited, 0, false, at)
                                << u"Ended 14:02:11 · exited with code 0"_s;
        QTest::newRow("signal") << ended(RunEnding::Cause::signalled, 9, false, at)
                                << u"Ended 14:02:11 · killed by signal 9"_s;
        QTest::newRow("asked to stop") << ended(RunEnding::Cause::signalled, 15, true, at)
                                       << u"Ended 14:02:11 · stopped"_s;
        QTest::newRow("replaced") << ended(RunEnding::Cause::replaced, 0, false, at)
                                  << u"Ended 14:02:11 · replaced by a new start"_s;
        QTest::newRow("never had a process") << PreviousRun() << u"Ended before it had a process"_s;
    }

    void runEnding()
    {
        QFETCH(PreviousRun, run);
        QFETCH(QString, text);
        QCOMPARE(RunEndingText::describe(run), text);
    }
};

QTEST_GUILESS_MAIN(TestLogLogic)
#include "TestLogLogic.moc"
