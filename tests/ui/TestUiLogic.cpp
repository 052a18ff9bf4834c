// The UI's pure decisions, by tables: tray icon, a row's texts and tones,
// tunnel links, the panel's list form and header, where the panel opens, and
// menu texts.
#include "supervision/ServerConfig.h"
#include "supervision/ServerStatus.h"
#include "ui/logic/MenuText.h"
#include "ui/logic/PanelLayout.h"
#include "ui/logic/PanelPlacement.h"
#include "ui/logic/ServerRowPresentation.h"
#include "ui/logic/TrayIconChoice.h"
#include "ui/logic/TunnelLink.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;

Q_DECLARE_METATYPE(Wardlamp::TrayIconKind)
Q_DECLARE_METATYPE(Wardlamp::ServerStatus)
Q_DECLARE_METATYPE(Wardlamp::Tone)
Q_DECLARE_METATYPE(Wardlamp::PanelLayout::ListForm)

namespace {

ServerConfig server(const QString& name, const QString& command, std::optional<QString> tunnel = std::nullopt)
{
    ServerConfig config;
    config.id = QUuid::createUuid();
    config.name = name;
    config.command = command;
    config.tunnelHostname = std::move(tunnel);
    return config;
}

} // namespace

class TestUiLogic : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void trayIcon_data()
    {
        QTest::addColumn<bool>("anyError");
        QTest::addColumn<bool>("anyRunning");
        QTest::addColumn<TrayIconKind>("kind");
        QTest::addColumn<QString>("name");
        QTest::newRow("nothing") << false << false << TrayIconKind::idle << u"wardlamp-idle"_s;
        QTest::newRow("running") << false << true << TrayIconKind::running << u"wardlamp-running"_s;
        QTest::newRow("error beats running") << true << true << TrayIconKind::error << u"wardlamp-error"_s;
        QTest::newRow("error alone") << true << false << TrayIconKind::error << u"wardlamp-error"_s;
    }

    void trayIcon()
    {
        QFETCH(bool, anyError);
        QFETCH(bool, anyRunning);
        QFETCH(TrayIconKind, kind);
        QFETCH(QString, name);
        QCOMPARE(TrayIconChoice::choose(anyError, anyRunning), kind);
        QCOMPARE(TrayIconChoice::themeName(kind), name);
        QCOMPARE(TrayIconChoice::resourcePath(kind), u":/icons/"_s + name + u".svg"_s);
    }

    void row_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("command");
        QTest::addColumn<ServerStatus>("status");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("statusWord");
        QTest::addColumn<Tone>("dot");
        QTest::addColumn<Tone>("statusTone");
        QTest::addColumn<QString>("button");
        QTest::addColumn<Tone>("buttonTone");
        QTest::addColumn<QString>("buttonName");

        QTest::newRow("stopped") << u"api"_s << u"bun server.js"_s << ServerStatus::stopped << u"api"_s << u"stopped"_s
                                 << Tone::secondary << Tone::secondary << u"Start"_s << Tone::running << u"Start api"_s;
        QTest::newRow("running") << u"api"_s << u"bun server.js"_s << ServerStatus::running << u"api"_s << u"running"_s
                                 << Tone::running << Tone::secondary << u"Stop"_s << Tone::error << u"Stop api"_s;
        QTest::newRow("error: red dot and word, green Start")
            << u"api"_s << u"bun server.js"_s << ServerStatus::error << u"api"_s << u"error"_s << Tone::error
            << Tone::error << u"Start"_s << Tone::running << u"Start api"_s;
        QTest::newRow("empty name shows the command")
            << QString() << u"bun server.js"_s << ServerStatus::stopped << u"bun server.js"_s << u"stopped"_s
            << Tone::secondary << Tone::secondary << u"Start"_s << Tone::running << u"Start bun server.js"_s;
        QTest::newRow("markup stays text")
            << u"<b>api</b> & <i>co</i>"_s << u"x"_s << ServerStatus::running << u"<b>api</b> & <i>co</i>"_s
            << u"running"_s << Tone::running << Tone::secondary << u"Stop"_s << Tone::error
            << u"Stop <b>api</b> & <i>co</i>"_s;
        QTest::newRow("a multi-line command on one line")
            << QString() << u"npm i &&\n\tnpm run dev\r\n"_s << ServerStatus::stopped << u"npm i &&  npm run dev  "_s
            << u"stopped"_s << Tone::secondary << Tone::secondary << u"Start"_s << Tone::running
            << u"Start npm i &&  npm run dev  "_s;
        QTest::newRow("nothing at all is spoken as untitled")
            << QString() << QString() << ServerStatus::stopped << QString() << u"stopped"_s << Tone::secondary
            << Tone::secondary << u"Start"_s << Tone::running << u"Start Untitled server"_s;
    }

    void row()
    {
        QFETCH(QString, name);
        QFETCH(QString, command);
        QFETCH(ServerStatus, status);
        const ServerRowPresentation row = ServerRowPresentation::describe(server(name, command), status);
        QTEST(row.title, "title");
        QTEST(row.statusWord, "statusWord");
        QTEST(row.dotTone, "dot");
        QTEST(row.statusTone, "statusTone");
        QTEST(row.buttonText, "button");
        QTEST(row.buttonTone, "buttonTone");
        QTEST(row.buttonAccessibleName, "buttonName");
        QCOMPARE(row.action, status == ServerStatus::running ? ServerAction::stop : ServerAction::start);
        QVERIFY(!row.link);
        QCOMPARE(row.accessibleDescription, row.statusWord);
    }

    void tunnelLink_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text"); // empty: no link
        QTest::addColumn<QString>("url");

        QTest::newRow("bare host") << u"api.example.com"_s << u"api.example.com"_s << u"https://api.example.com"_s;
        QTest::newRow("https and trailing slash")
            << u"https://api.example.com/"_s << u"api.example.com"_s << u"https://api.example.com"_s;
        QTest::newRow("http and trailing slash opens https")
            << u"http://api.example.com/"_s << u"api.example.com"_s << u"https://api.example.com"_s;
        QTest::newRow("spaces around") << u"  api.example.com \t"_s << u"api.example.com"_s
                                       << u"https://api.example.com"_s;
        QTest::newRow("with a path: the host is shown")
            << u"api.example.com/app"_s << u"api.example.com"_s << u"https://api.example.com/app"_s;
        QTest::newRow("with a port") << u"localhost:8443"_s << u"localhost"_s << u"https://localhost:8443"_s;
        QTest::newRow("international name shows its ASCII form")
            << u"bücher.example"_s << u"xn--bcher-kva.example"_s << u"https://xn--bcher-kva.example"_s;
        QTest::newRow("userinfo cannot pose as the host")
            << u"paypal.com@evil.example"_s << u"evil.example"_s << u"https://paypal.com@evil.example"_s;
        QTest::newRow("a space inside: no link") << u"api example.com"_s << QString() << QString();
        QTest::newRow("markup: no link") << u"<script>x</script>"_s << QString() << QString();
        QTest::newRow("a scheme of its own: no link") << u"javascript:alert(1)"_s << QString() << QString();
        QTest::newRow("empty: no link") << u""_s << QString() << QString();
        QTest::newRow("only a scheme: no link") << u"https://"_s << QString() << QString();
    }

    void tunnelLink()
    {
        QFETCH(QString, typed);
        QFETCH(QString, text);
        QFETCH(QString, url);
        const ServerConfig config = server(u"api"_s, u"x"_s, typed);
        const std::optional<TunnelLink> link = TunnelLink::of(config);
        const ServerRowPresentation row = ServerRowPresentation::describe(config, ServerStatus::error);
        if (text.isEmpty()) {
            QVERIFY2(!link, qPrintable(link ? link->url.toString() : QString()));
            // Shown as the status word: text, never a link.
            QVERIFY(!row.link);
            QCOMPARE(row.statusWord, u"error"_s);
            return;
        }
        QVERIFY(link);
        QCOMPARE(link->text, text);
        QCOMPARE(link->url.toString(QUrl::FullyEncoded), url);
        QCOMPARE(link->tooltip, u"Open "_s + url);
        QCOMPARE(row.link, link);
        QCOMPARE(row.accessibleDescription, u"error, tunnel "_s + url);
    }

    void listForm_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<PanelLayout::ListForm>("form");
        QTest::newRow("0") << 0 << PanelLayout::ListForm::empty;
        QTest::newRow("1") << 1 << PanelLayout::ListForm::natural;
        QTest::newRow("6") << 6 << PanelLayout::ListForm::natural;
        QTest::newRow("7") << 7 << PanelLayout::ListForm::scrolling;
        QTest::newRow("200") << 200 << PanelLayout::ListForm::scrolling;
    }

    void listForm()
    {
        QFETCH(int, count);
        QTEST(PanelLayout::listForm(count), "form");
    }

    void runningHeader()
    {
        QCOMPARE(PanelLayout::runningHeader(0), QString());
        QCOMPARE(PanelLayout::runningHeader(1), u"1 running"_s);
        QCOMPARE(PanelLayout::runningHeader(12), u"12 running"_s);
    }

    void placement_data()
    {
        QTest::addColumn<QRect>("icon");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QSize>("panel");
        QTest::addColumn<QPoint>("topLeft");

        const QRect screen(0, 32, 1920, 1048); // a top bar of 32 px
        const QSize panel(322, 400);
        QTest::newRow("icon at the top right: below it, kept on screen")
            << QRect(1880, 5, 22, 22) << QPoint() << screen << panel << QPoint(1920 - 322, 32);
        QTest::newRow("icon in the middle of a top bar: centred below")
            << QRect(900, 5, 22, 22) << QPoint() << screen << panel << QPoint(910 - 161, 32);
        QTest::newRow("bottom bar: above the icon")
            << QRect(1800, 1055, 22, 22) << QPoint() << QRect(0, 0, 1920, 1050) << panel
            << QPoint(1920 - 322, 1050 - 400); // above, and inside the area
        QTest::newRow("no geometry: at the pointer") << QRect() << QPoint(100, 10) << screen << panel << QPoint(0, 32);
        QTest::newRow("pointer at the bottom: above it")
            << QRect() << QPoint(500, 1070) << screen << panel << QPoint(500 - 161, 1070 - 4 - 400);
        QTest::newRow("taller than the screen: from its top")
            << QRect(10, 5, 22, 22) << QPoint() << QRect(0, 32, 800, 300) << panel << QPoint(0, 32);
        QTest::newRow("second screen to the left")
            << QRect(-40, 1000, 22, 22) << QPoint() << QRect(-1280, 0, 1280, 1024) << panel
            << QPoint(-322, 1000 - 4 - 400);
    }

    void placement()
    {
        QFETCH(QRect, icon);
        QFETCH(QPoint, pointer);
        QFETCH(QRect, available);
        QFETCH(QSize, panel);
        const QRect anchor = PanelPlacement::anchor(icon, pointer);
        const QPoint topLeft = PanelPlacement::topLeft(anchor, available, panel);
        QTEST(topLeft, "topLeft");
        // Whatever the case: on the available area wherever it fits.
        QVERIFY(topLeft.x() >= available.left());
        QVERIFY(topLeft.y() >= available.top());
        if (panel.width() <= available.width())
            QVERIFY(topLeft.x() + panel.width() <= available.left() + available.width());
    }

    void menuText_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("entry");
        QTest::newRow("plain") << u"api"_s << u"running"_s << u"api — running"_s;
        QTest::newRow("ampersand is not a mnemonic") << u"R&D"_s << u"stopped"_s << u"R&&D — stopped"_s;
        QTest::newRow("untitled") << u" "_s << u"error"_s << u"Untitled server — error"_s;
        QTest::newRow("long: the middle goes")
            << QString(u"a"_s.repeated(40) + u"b"_s.repeated(40)) << u"running"_s
            << QString(u"a"_s.repeated(19) + u"…"_s + u"b"_s.repeated(20) + u" — running"_s);
    }

    void menuText()
    {
        QFETCH(QString, title);
        QFETCH(QString, status);
        QTEST(MenuText::serverEntry(title, status), "entry");
    }

    void elideNeverSplitsASurrogatePair()
    {
        const QString emoji = u"😀"_s; // two UTF-16 units
        QString text;
        for (int i = 0; i < 50; ++i)
            text += emoji;
        for (qsizetype max = 3; max < 40; ++max) {
            const QString elided = MenuText::elideMiddle(text, max);
            QVERIFY(elided.size() <= max + 1);
            for (qsizetype i = 0; i < elided.size(); ++i) {
                if (elided.at(i).isHighSurrogate())
                    QVERIFY(i + 1 < elided.size() && elided.at(i + 1).isLowSurrogate());
                if (elided.at(i).isLowSurrogate())
                    QVERIFY(i > 0 && elided.at(i - 1).isHighSurrogate());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestUiLogic)
#include "TestUiLogic.moc"
