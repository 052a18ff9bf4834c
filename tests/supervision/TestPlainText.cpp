// The text that error and port detection, and the wire, see of a line.

#include "TestEnvironment.h"
#include "supervision/PlainText.h"

#include <QtTest>

using namespace Wardlamp;

class TestPlainText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    void strip_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("plain");
        const auto row = [](const char* name, const char* line, const char* plain) {
            QTest::newRow(name) << QByteArray(line) << QByteArray(plain);
        };
        row("plain", "Server ready on :3000", "Server ready on :3000");
        row("tab kept", "a\tb", "a\tb");
        row("colours around a word", "\x1b[31mError\x1b[39m: boom", "Error: boom");
        row("colour inside a word", "Err\x1b[1mor", "Error");
        row("bold and reset", "\x1b[1;32m\xe2\x9c\x93\x1b[0m ready", "\xe2\x9c\x93 ready");
        row("8-bit CSI",
            "\xc2\x9b"
            "31mfatal\xc2\x9b"
            "0m",
            "fatal");
        row("cursor move and clear", "\x1b[2J\x1b[Hpanic", "panic");
        row("hyperlink", "\x1b]8;;http://localhost:3000\x07open\x1b]8;;\x07", "open");
        row("title", "\x1b]0;vite\x1b\\Local: http://localhost:5173/", "Local: http://localhost:5173/");
        row("carriage return and backspace", "50%\r100%\b!", "50%100%!");
        row("unfinished sequence", "text \x1b[31", "text ");
        row("lone escape", "a\x1b", "a");
        row("port wording in colour", "Port \x1b[33m5173\x1b[39m is in use", "Port 5173 is in use");
    }
    void strip()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, plain);
        QCOMPARE(PlainText::strip(line), plain);
        QCOMPARE(PlainText::hasControls(line), line != plain);
        const QString text = QString::fromUtf8(line);
        QCOMPARE(PlainText::stripText(text), QString::fromUtf8(plain));
        QCOMPARE(PlainText::hasControls(QStringView(text)), line != plain);
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestPlainText)
#include "TestPlainText.moc"
