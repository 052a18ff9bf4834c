// The settings window's small text decisions, by tables: the Status row of
// each agent state, a server's title, notes with inline code, and the pairing
// key cut in the middle.
#include "agent/ConnectionState.h"
#include "ui/logic/SettingsText.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;

class TestSettingsLogic : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void statusOfEachState_data()
    {
        QTest::addColumn<ConnectionState>("state");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("glyph");
        QTest::addColumn<int>("tone");
        QTest::newRow("off") << ConnectionState::off() << u"Off"_s << u"circle"_s << int(Tone::secondary);
        QTest::newRow("connecting") << ConnectionState::connecting() << u"Connecting…"_s << u"circle-dotted"_s
                                    << int(Tone::secondary);
        QTest::newRow("online") << ConnectionState::online() << u"Connected — waiting for a device"_s
                                << u"circle-fill"_s << int(Tone::running);
        QTest::newRow("controller") << ConnectionState::controllerConnected() << u"Device connected"_s
                                    << u"phone-circle"_s << int(Tone::running);
        QTest::newRow("error verbatim") << ConnectionState::error(u"relay refused: <b>401</b>"_s)
                                        << u"relay refused: <b>401</b>"_s << u"warning"_s << int(Tone::warning);
        QTest::newRow("empty error") << ConnectionState::error(QString()) << QString() << u"warning"_s
                                     << int(Tone::warning);
    }
    void statusOfEachState()
    {
        QFETCH(ConnectionState, state);
        QFETCH(QString, text);
        QFETCH(QString, glyph);
        QFETCH(int, tone);
        const ConnectionStatusText status = ConnectionStatusText::describe(state);
        QCOMPARE(status.text, text);
        QCOMPARE(status.glyph, glyph);
        QCOMPARE(int(status.tone), tone);
    }

    void serverTitle_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::newRow("named") << u"api"_s << u"api"_s;
        QTest::newRow("empty") << QString() << u"Untitled"_s;
        QTest::newRow("spaces kept") << u"  "_s << u"  "_s;
    }
    void serverTitle()
    {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QCOMPARE(SettingsText::serverTitle(name), title);
    }

    void noteHtml_data()
    {
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("html");
        QTest::newRow("plain") << u"no code"_s << u"no code"_s;
        QTest::newRow("two stretches") << u"e.g. `bun server.js` or `bun /a.js`."_s
                                       << u"e.g. <code>bun server.js</code> or <code>bun /a.js</code>."_s;
        QTest::newRow("escaped") << u"a <b> & `x<y`"_s << u"a &lt;b&gt; &amp; <code>x&lt;y</code>"_s;
        QTest::newRow("unpaired") << u"you'd `cd`'d `here"_s << u"you'd <code>cd</code>'d `here"_s;
        QTest::newRow("empty code") << u"a `` b"_s << u"a <code></code> b"_s;
    }
    void noteHtml()
    {
        QFETCH(QString, note);
        QFETCH(QString, html);
        QCOMPARE(SettingsText::noteHtml(note), html);
    }

    void middleTruncated_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("perLine");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("shown");
        QTest::newRow("fits one line") << u"abc"_s << 5 << 3 << u"abc"_s;
        QTest::newRow("broken into lines") << u"abcdefgh"_s << 3 << 3 << u"abc\ndef\ngh"_s;
        QTest::newRow("exactly full") << u"abcdefghi"_s << 3 << 3 << u"abc\ndef\nghi"_s;
        QTest::newRow("cut in the middle") << u"abcdefghijkl"_s << 3 << 3 << u"abc\nd…i\njkl"_s;
        QTest::newRow("one line") << u"abcdefghij"_s << 5 << 1 << u"ab…ij"_s;
        QTest::newRow("empty") << QString() << 5 << 3 << QString();
        QTest::newRow("no width") << u"abc"_s << 0 << 0 << u"…"_s;
    }
    void middleTruncated()
    {
        QFETCH(QString, text);
        QFETCH(int, perLine);
        QFETCH(int, lines);
        QFETCH(QString, shown);
        QCOMPARE(SettingsText::middleTruncated(text, perLine, lines), shown);
    }
};

QTEST_GUILESS_MAIN(TestSettingsLogic)
#include "TestSettingsLogic.moc"
