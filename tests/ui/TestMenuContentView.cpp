// The panel offscreen, against a real manager running real children: rows
// follow the servers live, the three list forms, the commands, the keyboard.
#include "UiFixture.h"
#include "ui/models/PanelCommands.h"
#include "ui/models/ServerListModel.h"
#include "ui/models/ServerSummary.h"
#include "ui/widgets/CapsuleButton.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/LinkButton.h"
#include "ui/widgets/MenuButton.h"
#include "ui/widgets/MenuContentView.h"
#include "ui/widgets/PanelWindow.h"
#include "ui/widgets/ServerRow.h"
#include "ui/widgets/StatusDot.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using Wardlamp::Test::waitMs;

// Receives the URLs the panel asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl& url) { urls.append(url); }
};

namespace {

// The views' share of the app: the models over one fixture.
struct Panel {
    explicit Panel(Test::UiFixture& fixture)
        : servers(fixture.store(), fixture.manager())
        , summary(fixture.manager())
        , commands(fixture.store(), fixture.manager())
        , view(new MenuContentView(servers, summary, commands))
    {
    }
    // A window that took the view deletes it first.
    ~Panel() { delete view; }

    ServerRow* row(int index) const { return view->rows().at(index); }
    QString title(int index) const { return row(index)->findChild<ElidedLabel*>(u"titleLabel"_s)->text(); }
    QString status(int index) const { return row(index)->findChild<ElidedLabel*>(u"statusLabel"_s)->text(); }
    CapsuleButton* button(int index) const { return row(index)->findChild<CapsuleButton*>(u"startStopButton"_s); }
    StatusDot* dot(int index) const { return row(index)->findChild<StatusDot*>(u"statusDot"_s); }
    QString header() const { return view->findChild<ElidedLabel*>(u"runningLabel"_s)->text(); }

    ServerListModel servers;
    ServerSummary summary;
    PanelCommands commands;
    QPointer<MenuContentView> view;
};

} // namespace

class TestMenuContentView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Test::TestEnvironment>(); }

    // Start, stop, crash and removal show in the rows while the panel is open.
    void rowsFollowTheServersLive()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig api = fixture.addHolding(u"api"_s);
        const ServerConfig web = fixture.addChild(u"web"_s, { u"out:up"_s, u"sleep:400"_s, u"exit:3"_s });
        Panel panel(fixture);
        panel.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.view));
        QCOMPARE(panel.view->rows().size(), 2);
        QCOMPARE(panel.status(0), u"stopped"_s);
        QCOMPARE(panel.button(0)->text(), u"Start"_s);
        QCOMPARE(panel.header(), QString());

        // Start from the panel's own button.
        QTest::mouseClick(panel.button(0), Qt::LeftButton);
        QCOMPARE(fixture.manager().state(api.id).status, ServerStatus::running);
        QCOMPARE(panel.status(0), u"running"_s);
        QCOMPARE(panel.button(0)->text(), u"Stop"_s);
        QCOMPARE(panel.button(0)->tone(), Tone::error);
        QCOMPARE(panel.dot(0)->tone(), Tone::running);
        QCOMPARE(panel.header(), u"1 running"_s);

        // A crash turns the row red.
        fixture.manager().start(web);
        QCOMPARE(panel.header(), u"2 running"_s);
        QVERIFY(fixture.waitForStatus(web.id, ServerStatus::error));
        QCOMPARE(panel.status(1), u"error"_s);
        QCOMPARE(panel.row(1)->findChild<ElidedLabel*>(u"statusLabel"_s)->property("visible").toBool(), true);
        QCOMPARE(panel.dot(1)->tone(), Tone::error);
        QCOMPARE(panel.button(1)->text(), u"Start"_s);
        QCOMPARE(panel.button(1)->tone(), Tone::running);
        QCOMPARE(panel.header(), u"1 running"_s);

        // Stop from the button; the row follows the exit.
        QTest::mouseClick(panel.button(0), Qt::LeftButton);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::stopped));
        QCOMPARE(panel.status(0), u"stopped"_s);
        QCOMPARE(panel.header(), QString());

        // Removal takes the row away.
        fixture.store().remove(api.id);
        QCOMPARE(panel.view->rows().size(), 1);
        QCOMPARE(panel.title(0), u"web"_s);
    }

    // The error row's Start starts the server, replacing a process that is
    // still alive after printing an error.
    void errorRowStartReplacesTheLiveProcess()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig api = fixture.addChild(u"api"_s, { u"pid"_s, u"err:Error: boom"_s, u"hold"_s });
        Panel panel(fixture);
        fixture.manager().start(api);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::error));
        const std::optional<qint32> firstPid = fixture.manager().state(api.id).pid;
        QVERIFY(firstPid);
        QCOMPARE(panel.status(0), u"error"_s);
        QCOMPARE(panel.button(0)->text(), u"Start"_s);

        QTest::mouseClick(panel.button(0), Qt::LeftButton);
        QCOMPARE(fixture.manager().state(api.id).status, ServerStatus::running);
        QTRY_VERIFY_WITH_TIMEOUT(
            fixture.manager().state(api.id).pid && fixture.manager().state(api.id).pid != firstPid, waitMs(10000));
        // The replaced process is ended.
        QTRY_VERIFY_WITH_TIMEOUT(Test::processGone(*firstPid), waitMs(10000));
    }

    void sixRowsAtNaturalHeightSevenScroll()
    {
        Test::UiFixture fixture(*m_environment);
        for (int i = 1; i <= 6; ++i)
            fixture.store().add(Test::serverRecord(u"server %1"_s.arg(i), u"true"_s));
        Panel panel(fixture);
        panel.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.view));
        QCOMPARE(panel.view->listForm(), PanelLayout::ListForm::natural);
        QScrollArea* scroll = panel.view->scrollArea();
        QVERIFY(scroll->isVisible());
        QCOMPARE(scroll->verticalScrollBar()->isVisible(), false);
        // Every row in view at once.
        QCOMPARE(scroll->height(), scroll->widget()->sizeHint().height());
        QVERIFY(scroll->height() < PanelLayout::scrollHeight + 100);
        const int sixHeight = panel.view->height();

        fixture.store().add(Test::serverRecord(u"server 7"_s, u"true"_s));
        QCOMPARE(panel.view->rows().size(), 7);
        QCOMPARE(panel.view->listForm(), PanelLayout::ListForm::scrolling);
        QTRY_COMPARE(scroll->height(), PanelLayout::scrollHeight);
        QCOMPARE(panel.view->width(), PanelLayout::width);

        fixture.store().remove(fixture.store().servers().constLast().id);
        QCOMPARE(panel.view->listForm(), PanelLayout::ListForm::natural);
        QTRY_COMPARE(panel.view->height(), sixHeight);
    }

    void emptyState()
    {
        Test::UiFixture fixture(*m_environment);
        Panel panel(fixture);
        panel.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.view));
        QCOMPARE(panel.view->listForm(), PanelLayout::ListForm::empty);
        QWidget* empty = panel.view->findChild<QWidget*>(u"emptyState"_s);
        QVERIFY(empty->isVisible());
        QVERIFY(!panel.view->scrollArea()->isVisible());
        QCOMPARE(panel.view->findChild<QLabel*>(u"emptyTitle"_s)->text(), u"No servers yet"_s);
        QCOMPARE(panel.view->findChild<QLabel*>(u"emptyHint"_s)->text(), u"Add one in Settings to get started."_s);
        // The header row keeps its height with nothing in it.
        ElidedLabel* header = panel.view->findChild<ElidedLabel*>(u"runningLabel"_s);
        QCOMPARE(header->text(), QString());
        QVERIFY(header->height() >= header->fontMetrics().height());

        fixture.store().add(Test::serverRecord(u"first"_s, u"true"_s));
        QVERIFY(!empty->isVisible());
        QVERIFY(panel.view->scrollArea()->isVisible());
    }

    void emptyNameShowsTheCommand()
    {
        Test::UiFixture fixture(*m_environment);
        fixture.store().add(Test::serverRecord(QString(), u"bun server.js"_s));
        Panel panel(fixture);
        QCOMPARE(panel.title(0), u"bun server.js"_s);
        QCOMPARE(panel.row(0)->accessibleName(), u"bun server.js"_s);
    }

    void tunnelLinkOpensTheHttpsAddress()
    {
        Test::UiFixture fixture(*m_environment);
        ServerConfig config = Test::serverRecord(u"api"_s, u"true"_s);
        config.tunnelHostname = u"http://api.example.com/"_s;
        fixture.store().add(config);
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(u"https"_s, &catcher, "open");
        Panel panel(fixture);
        panel.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.view));
        auto* link = panel.row(0)->findChild<LinkButton*>(u"tunnelLink"_s);
        QVERIFY(link->isVisible());
        QVERIFY(!panel.row(0)->findChild<ElidedLabel*>(u"statusLabel"_s)->isVisible());
        QCOMPARE(link->text(), u"api.example.com"_s);
        QVERIFY(link->toolTip().contains(u"Open https://api.example.com"_s));
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(catcher.urls, QList<QUrl> { QUrl(u"https://api.example.com"_s) });
        // By keyboard too.
        link->setFocus();
        QTest::keyClick(link, Qt::Key_Return);
        QTRY_COMPARE(catcher.urls.size(), 2);
        QDesktopServices::unsetUrlHandler(u"https"_s);
    }

    void commandsAskTheApp()
    {
        Test::UiFixture fixture(*m_environment);
        Panel panel(fixture);
        QSignalSpy logs(&panel.commands, &PanelCommands::logsRequested);
        QSignalSpy settings(&panel.commands, &PanelCommands::settingsRequested);
        QSignalSpy quit(&panel.commands, &PanelCommands::quitRequested);
        QSignalSpy chosen(panel.view, &MenuContentView::commandChosen);
        panel.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.view));
        QTest::mouseClick(panel.view->findChild<MenuButton*>(u"viewLogsButton"_s), Qt::LeftButton);
        QTest::mouseClick(panel.view->findChild<MenuButton*>(u"settingsButton"_s), Qt::LeftButton);
        QTest::mouseClick(panel.view->findChild<MenuButton*>(u"quitButton"_s), Qt::LeftButton);
        QCOMPARE(logs.size(), 1);
        QCOMPARE(settings.size(), 1);
        QCOMPARE(quit.size(), 1);
        QCOMPARE(chosen.size(), 3);
        QCOMPARE(panel.view->findChild<MenuButton*>(u"viewLogsButton"_s)->text(), u"View Logs…"_s);
        QCOMPARE(panel.view->findChild<MenuButton*>(u"settingsButton"_s)->text(), u"Settings…"_s);
        QCOMPARE(panel.view->findChild<MenuButton*>(u"quitButton"_s)->text(), u"Quit Wardlamp"_s);
    }

    // Every control can be reached and used from the keyboard alone.
    void keyboardOnly()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig api = fixture.addHolding(u"api"_s);
        Panel panel(fixture);
        QSignalSpy logs(&panel.commands, &PanelCommands::logsRequested);
        PanelWindow window(panel.view, PanelWindow::Mode::window);
        window.open(QRect());
        QVERIFY(QTest::qWaitForWindowActive(&window));
        panel.view->setFocus();

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), panel.button(0));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(fixture.manager().state(api.id).status, ServerStatus::running);

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        auto* logsButton = panel.view->findChild<MenuButton*>(u"viewLogsButton"_s);
        QCOMPARE(QApplication::focusWidget(), logsButton);
        QVERIFY(logsButton->isHighlighted());
        QTest::keyClick(logsButton, Qt::Key_Return);
        QTRY_COMPARE(logs.size(), 1);

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QCOMPARE(QApplication::focusWidget(), panel.button(0));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(fixture.manager().state(api.id).status, ServerStatus::stopped);
    }

    // Markup stays text, a 10,000-character command is elided and never
    // widens the panel.
    void badNames()
    {
        Test::UiFixture fixture(*m_environment);
        fixture.store().add(Test::serverRecord(u"<b>bold</b> <img src=x> &amp;"_s, u"true"_s));
        fixture.store().add(Test::serverRecord(QString(), u"x"_s.repeated(10000)));
        fixture.store().add(Test::serverRecord(u"R&D"_s, u"true"_s));
        Panel panel(fixture);
        panel.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.view));
        QCOMPARE(panel.view->width(), PanelLayout::width);
        QCOMPARE(panel.title(0), u"<b>bold</b> <img src=x> &amp;"_s);
        auto* longTitle = panel.row(1)->findChild<ElidedLabel*>(u"titleLabel"_s);
        QVERIFY(longTitle->shownText().endsWith(QChar(0x2026)));
        QVERIFY(longTitle->fontMetrics().horizontalAdvance(longTitle->shownText()) <= longTitle->width());
        QVERIFY(longTitle->geometry().right() < panel.button(1)->geometry().left());
        QVERIFY(panel.row(1)->geometry().right() < PanelLayout::width);
        // The tooltip shows the name as written.
        QVERIFY(panel.row(0)->findChild<ElidedLabel*>(u"titleLabel"_s)->toolTip().contains(u"&lt;b&gt;"_s));
    }

    // 200 servers: the list scrolls, and the focused row is brought into view.
    void twoHundredServers()
    {
        Test::UiFixture fixture(*m_environment);
        QList<ServerConfig> servers;
        for (int i = 0; i < 200; ++i)
            servers.append(Test::serverRecord(u"server %1"_s.arg(i), u"true"_s));
        fixture.store().setServers(servers);
        Panel panel(fixture);
        PanelWindow window(panel.view, PanelWindow::Mode::window);
        window.open(QRect());
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(panel.view->rows().size(), 200);
        QScrollArea* scroll = panel.view->scrollArea();
        QCOMPARE(scroll->height(), PanelLayout::scrollHeight);
        QTRY_VERIFY(scroll->verticalScrollBar()->maximum() > 100 * 30);
        panel.button(150)->setFocus();
        QTRY_VERIFY(scroll->verticalScrollBar()->value() > 0);
        const QRect shown = scroll->viewport()->rect();
        const QPoint at = panel.button(150)->mapTo(scroll->viewport(), QPoint(0, 0));
        QVERIFY(shown.contains(at));
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
};

QTEST_MAIN(TestMenuContentView)
#include "TestMenuContentView.moc"
