#include "TestEnvironment.h"

#include "cli/TerminalText.h"

#include <QTest>

using namespace Wardlamp;

class TestTerminalText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Wardlamp::Test::TestEnvironment>(); }
    void sanitize_data();
    void sanitize();
    void isPlain_data();
    void isPlain();

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
};

void TestTerminalText::sanitize_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("colour"); // what a colour terminal gets
    QTest::addColumn<QByteArray>("plain"); // what any other output gets

    QTest::newRow("plain text") << QByteArray("hello, world") << QByteArray("hello, world")
                                << QByteArray("hello, world");
    QTest::newRow("utf-8 kept") << QByteArray("caf\xc3\xa9 \xe6\x97\xa5\xc2\xa2")
                                << QByteArray("caf\xc3\xa9 \xe6\x97\xa5\xc2\xa2")
                                << QByteArray("caf\xc3\xa9 \xe6\x97\xa5\xc2\xa2");
    QTest::newRow("tab kept") << QByteArray("a\tb") << QByteArray("a\tb") << QByteArray("a\tb");
    QTest::newRow("sgr colour") << QByteArray("\x1b[31mError\x1b[39m: boom")
                                << QByteArray("\x1b[31mError\x1b[39m: boom\x1b[0m") << QByteArray("Error: boom");
    QTest::newRow("sgr 256 and truecolour")
        << QByteArray("\x1b[38;5;208mA\x1b[38:2::1:2:3mB") << QByteArray("\x1b[38;5;208mA\x1b[38:2::1:2:3mB\x1b[0m")
        << QByteArray("AB");
    QTest::newRow("sgr without parameters") << QByteArray("\x1b[mx") << QByteArray("\x1b[mx\x1b[0m") << QByteArray("x");
    QTest::newRow("clear screen") << QByteArray("\x1b[2J\x1b[Hstart") << QByteArray("start") << QByteArray("start");
    QTest::newRow("cursor movement") << QByteArray("a\x1b[10;20Hb\x1b[Ac\x1b[?25l") << QByteArray("abc")
                                     << QByteArray("abc");
    QTest::newRow("private sgr-like") << QByteArray("\x1b[>4;2mx") << QByteArray("x") << QByteArray("x");
    QTest::newRow("intermediate in csi") << QByteArray("\x1b[1 qx") << QByteArray("x") << QByteArray("x");
    QTest::newRow("window title, BEL") << QByteArray("\x1b]0;pwned\x07ok") << QByteArray("ok") << QByteArray("ok");
    QTest::newRow("hyperlink, ST") << QByteArray("\x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\") << QByteArray("link")
                                   << QByteArray("link");
    QTest::newRow("device control string")
        << QByteArray("\x1bPq#0;2;0;0;0\x1b\\after") << QByteArray("after") << QByteArray("after");
    QTest::newRow("two-byte escapes") << QByteArray("\x1b"
                                                    "c\x1b"
                                                    "7x\x1b(B")
                                      << QByteArray("x") << QByteArray("x");
    QTest::newRow("carriage return") << QByteArray("50%\r100%") << QByteArray("50%100%") << QByteArray("50%100%");
    QTest::newRow("backspace, bell, form feed, line feed")
        << QByteArray("a\bb\x07\x0c\nc") << QByteArray("abc") << QByteArray("abc");
    QTest::newRow("nul and delete") << QByteArray("a\0b\x7f"
                                                  "c",
        5) << QByteArray("abc") << QByteArray("abc");
    QTest::newRow("8-bit csi") << QByteArray("a\xc2\x9b"
                                             "2Jb\xc2\x9b"
                                             "32mc")
                               << QByteArray("ab\x1b[32mc\x1b[0m") << QByteArray("abc");
    QTest::newRow("8-bit osc with 8-bit st") << QByteArray("a\xc2\x9d"
                                                           "0;t\xc2\x9c"
                                                           "b")
                                             << QByteArray("ab") << QByteArray("ab");
    QTest::newRow("other c1 control") << QByteArray("a\xc2\x85"
                                                    "b")
                                      << QByteArray("ab") << QByteArray("ab");
    QTest::newRow("unfinished csi at the end") << QByteArray("tail\x1b[31") << QByteArray("tail") << QByteArray("tail");
    QTest::newRow("unfinished osc swallows the rest")
        << QByteArray("a\x1b]0;title and more") << QByteArray("a") << QByteArray("a");
    QTest::newRow("lone escape at the end") << QByteArray("end\x1b") << QByteArray("end") << QByteArray("end");
    QTest::newRow("csi broken by a line feed") << QByteArray("a\x1b[3\nb") << QByteArray("ab") << QByteArray("ab");
    QTest::newRow("csi broken by text beyond ascii")
        << QByteArray("a\x1b[3\xc3\xa9") << QByteArray("a\xc3\xa9") << QByteArray("a\xc3\xa9");
}

void TestTerminalText::sanitize()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, colour);
    QFETCH(QByteArray, plain);
    QCOMPARE(TerminalText::sanitize(text, true), colour);
    QCOMPARE(TerminalText::sanitize(text, false), plain);
    // What comes out needs no second pass.
    QCOMPARE(TerminalText::sanitize(plain, false), plain);
    QVERIFY(TerminalText::isPlain(plain));
}

void TestTerminalText::isPlain_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("plain");
    QTest::newRow("text") << QByteArray("a b\tc \xc2\xa2") << true;
    QTest::newRow("escape") << QByteArray("\x1b[31m") << false;
    QTest::newRow("carriage return") << QByteArray("a\r") << false;
    QTest::newRow("c1") << QByteArray("\xc2\x9b") << false;
    QTest::newRow("delete") << QByteArray("\x7f") << false;
}

void TestTerminalText::isPlain()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, plain);
    QCOMPARE(TerminalText::isPlain(text), plain);
}

QTEST_GUILESS_MAIN(TestTerminalText)
#include "TestTerminalText.moc"
