// The log window's content offscreen, against a real store and a real manager
// running real children: the selection rules, the auto-scroll rules, Copy byte
// for byte, the previous run after a crash and its restart, search, the
// keyboard, accessible names, and lines of every size.
#include "UiFixture.h"
#include "ui/logic/LogText.h"
#include "ui/models/LogFilterModel.h"
#include "ui/models/LogSearch.h"
#include "ui/models/LogWindowModel.h"
#include "ui/models/PanelCommands.h"
#include "ui/models/ServerListModel.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/GlyphButton.h"
#include "ui/widgets/LogView.h"
#include "ui/widgets/LogsView.h"
#include "ui/widgets/PlaceholderView.h"
#include "ui/widgets/ToggleSwitch.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using Wardlamp::Test::waitMs;

namespace {

// The window's content over one fixture, shown at the window's default size.
struct Window {
    explicit Window(Test::UiFixture& fixture)
        : servers(fixture.store(), fixture.manager())
        , commands(fixture.store(), fixture.manager())
        , view(servers, fixture.store(), fixture.manager(), commands)
    {
        view.resize(760, 480);
    }

    bool show()
    {
        view.show();
        return QTest::qWaitForWindowExposed(&view);
    }

    template <typename T> T* find(const QString& name) const
    {
        T* child = view.findChild<T*>(name);
        if (!child)
            qWarning("no child %s", qPrintable(name));
        return child;
    }
    QListView* sidebar() const { return find<QListView>(u"serverList"_s); }
    bool showsPlaceholder() const
    {
        return find<QStackedWidget>(u"detail"_s)->currentWidget() == find<QWidget>(u"noSelection"_s);
    }
    QString title() const { return find<ElidedLabel>(u"titleLabel"_s)->text(); }
    QList<QUuid> sidebarSelection() const
    {
        QList<QUuid> ids;
        for (const QModelIndex& index : sidebar()->selectionModel()->selectedIndexes())
            ids.append(index.data(ServerListModel::IdRole).toUuid());
        return ids;
    }
    LogView* log() const { return view.logView(); }

    ServerListModel servers;
    PanelCommands commands;
    LogsView view;
};

// A line of text that a server writes, spelled in hex so the command line
// (which the log's first line repeats) does not contain it.
QString rawLine(const QByteArray& bytes)
{
    return u"raw:"_s + QString::fromLatin1(QByteArray(bytes + '\n').toHex());
}

} // namespace

class TestLogsView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Test::TestEnvironment>(); }

    // Nothing selected at first; the first server when the window first
    // shows; a removed server leaves "No server selected" without moving the
    // selection; arrow keys move in the sidebar.
    void selectionRules()
    {
        Test::UiFixture fixture(*m_environment);
        Window window(fixture);
        QVERIFY(window.show());
        QVERIFY(window.showsPlaceholder());
        QCOMPARE(window.find<PlaceholderView>(u"noSelection"_s)->title(), u"No server selected"_s);
        QVERIFY(window.view.model().selectedId().isNull());

        // Servers added later are not selected by themselves.
        const ServerConfig api = fixture.addChild(u"api"_s, { u"out:hello"_s, u"hold"_s });
        const ServerConfig web = fixture.addChild(u"web"_s, { u"out:hi"_s, u"hold"_s });
        const ServerConfig db = fixture.addChild(u"db"_s, { u"hold"_s });
        QVERIFY(window.showsPlaceholder());

        // A fresh window selects the first server when it first shows.
        Window second(fixture);
        QVERIFY(second.show());
        QCOMPARE(second.view.model().selectedId(), api.id);
        QVERIFY(!second.showsPlaceholder());
        QCOMPARE(second.title(), u"api"_s);
        QCOMPARE(second.sidebarSelection(), QList<QUuid> { api.id });

        // A click selects; arrow keys move.
        const QRect webRow = second.sidebar()->visualRect(second.servers.index(1));
        QTest::mouseClick(second.sidebar()->viewport(), Qt::LeftButton, {}, webRow.center());
        QCOMPARE(second.view.model().selectedId(), web.id);
        QCOMPARE(second.title(), u"web"_s);
        second.sidebar()->setFocus();
        QTest::keyClick(second.sidebar(), Qt::Key_Down);
        QCOMPARE(second.view.model().selectedId(), db.id);
        QTest::keyClick(second.sidebar(), Qt::Key_Up);
        QCOMPARE(second.view.model().selectedId(), web.id);

        // Removing the selected server: "No server selected", nothing else selected.
        fixture.store().remove(web.id);
        QVERIFY(second.showsPlaceholder());
        QCOMPARE(second.view.model().selectedId(), web.id);
        QVERIFY(second.sidebarSelection().isEmpty());
        // A rename of another server changes nothing of that.
        ServerConfig renamed = api;
        renamed.name = u"api v2"_s;
        fixture.store().update(renamed);
        QVERIFY(second.showsPlaceholder());
        QVERIFY(second.sidebarSelection().isEmpty());
        // The user picks another.
        QTest::mouseClick(second.sidebar()->viewport(), Qt::LeftButton, {},
            second.sidebar()->visualRect(second.servers.index(0)).center());
        QCOMPARE(second.view.model().selectedId(), api.id);
        QCOMPARE(second.title(), u"api v2"_s);
        QVERIFY(!second.showsPlaceholder());
    }

    // Auto-scroll acts on every change of the lines (a clear too), never on
    // first display, never while off, and not when switched back on until
    // the next line.
    void autoScrollRules()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig api = fixture.addChild(u"api"_s, { u"lines:200"_s, u"hold"_s });
        fixture.manager().start(api);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.manager().state(api.id).logs.size(), 201, waitMs(20000));
        Window window(fixture);
        QSignalSpy follows(&window.view.model(), &LogWindowModel::followRequested);
        QVERIFY(window.show());
        LogView* log = window.log();
        QCOMPARE(log->scrollOffset(), 0); // first display: the top
        QVERIFY(log->contentHeight() > log->viewport()->height() * 2);

        // On: a new line scrolls to the end.
        fixture.manager().appendLog(api.id, u"one more"_s, false);
        QCOMPARE(follows.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(log->isAtBottom() && log->scrollOffset() > 0, waitMs(5000));

        // Off: new lines move nothing.
        auto* autoScroll = window.find<ToggleSwitch>(u"autoScrollSwitch"_s);
        QVERIFY(autoScroll->isChecked());
        QTest::mouseClick(autoScroll, Qt::LeftButton);
        QVERIFY(!window.view.model().autoScroll());
        log->verticalScrollBar()->setValue(0);
        fixture.manager().appendLog(api.id, u"unseen"_s, false);
        QTest::qWait(300); // an animation, were there one, would have started
        QCOMPARE(log->scrollOffset(), 0);
        QCOMPARE(follows.count(), 1);

        // On again: nothing moves until the next line.
        QTest::mouseClick(autoScroll, Qt::LeftButton);
        QVERIFY(window.view.model().autoScroll());
        QCOMPARE(log->scrollOffset(), 0);
        fixture.manager().appendLog(api.id, u"next"_s, false);
        QCOMPARE(follows.count(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(log->isAtBottom() && log->scrollOffset() > 0, waitMs(5000));

        // At the cap the count stays the same, and new lines still follow.
        for (int i = 0; i < ServerManager::maxLogLines; ++i)
            fixture.manager().appendLog(api.id, u"fill %1"_s.arg(i), false);
        log->verticalScrollBar()->setValue(0);
        const int followed = int(follows.count());
        fixture.manager().appendLog(api.id, u"at the cap"_s, false);
        QCOMPARE(fixture.manager().state(api.id).logs.size(), ServerManager::maxLogLines);
        QCOMPARE(follows.count(), followed + 1);
        QTRY_VERIFY_WITH_TIMEOUT(log->isAtBottom() && log->scrollOffset() > 0, waitMs(5000));

        // A clear is a change as well.
        fixture.manager().clearLogs(api.id);
        QCOMPARE(follows.count(), followed + 2);
        QCOMPARE(log->contentHeight(), 0);
        QCOMPARE(log->emptyText(), u"No output yet."_s);

        // Another server: first display again, at the top, no follow.
        const ServerConfig other = fixture.addChild(u"other"_s, { u"hold"_s });
        for (int i = 0; i < 300; ++i)
            fixture.manager().appendLog(other.id, u"other %1"_s.arg(i), false);
        const int before = int(follows.count());
        window.view.model().select(other.id);
        QCOMPARE(log->scrollOffset(), 0);
        QCOMPARE(follows.count(), before);
        fixture.manager().stop(api);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::stopped));
    }

    // Copy: "HH:mm:ss", two spaces, the text as shown; joined by line feeds,
    // none after the last; the empty string for an empty log.
    void copyTextByteForByte()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig api = fixture.addChild(u"api"_s,
            { rawLine("\x1b[32mready\x1b[0m in \x1b[1m12 ms\x1b[0m"), rawLine("  indented\ttab"), u"err:Error: boom"_s,
                u"hold"_s });
        fixture.manager().start(api);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.manager().state(api.id).logs.size(), 4, waitMs(20000));
        Window window(fixture);
        QVERIFY(window.show());

        QStringList expected;
        const LogRing& ring = fixture.manager().state(api.id).logs;
        for (int i = 0; i < ring.size(); ++i) {
            const QString time = QDateTime::fromMSecsSinceEpoch(ring.msecsAt(i)).toString(u"HH:mm:ss"_s);
            QString text = QString::fromUtf8(ring.textAt(i));
            text.remove(u"\x1b[32m"_s).remove(u"\x1b[0m"_s).remove(u"\x1b[1m"_s);
            expected.append(time + u"  "_s + text);
        }
        QVERIFY(expected.contains(expected.at(0)));
        QApplication::clipboard()->setText(u"sentinel"_s);
        QTest::mouseClick(window.find<GlyphButton>(u"copyButton"_s), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), expected.join(u'\n'));
        QVERIFY(QApplication::clipboard()->text().contains(u"  ready in 12 ms\n"_s));
        QVERIFY(QApplication::clipboard()->text().contains(u"    indented\ttab"_s));
        QVERIFY(!QApplication::clipboard()->text().endsWith(u'\n'));

        // Empty log: the empty string.
        QTest::mouseClick(window.find<GlyphButton>(u"clearButton"_s), Qt::LeftButton);
        QCOMPARE(fixture.manager().state(api.id).logs.size(), 0);
        QApplication::clipboard()->setText(u"sentinel"_s);
        QTest::mouseClick(window.find<GlyphButton>(u"copyButton"_s), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), QString());
        fixture.manager().stop(api);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::stopped));
    }

    // A crash, then the automatic restart: "Previous run" shows the crash's
    // lines, with when and how that run ended; the current run goes on.
    void previousRunAfterACrashAndRestart()
    {
        Test::UiFixture fixture(*m_environment);
        ServerConfig api = fixture.addChild(u"api"_s, { u"out:booting"_s, u"err:Error: boom"_s, u"exit:3"_s });
        api.restartOnCrash = true;
        fixture.store().update(api);
        Window window(fixture);
        QVERIFY(window.show());
        auto* previous = window.find<QToolButton>(u"previousRunButton"_s);
        auto* current = window.find<QToolButton>(u"currentRunButton"_s);
        QVERIFY(!previous->isVisible());

        fixture.manager().start(api);
        QTRY_VERIFY_WITH_TIMEOUT(previous->isVisible(), waitMs(20000));
        QVERIFY(current->isChecked());
        QTest::mouseClick(previous, Qt::LeftButton);
        QCOMPARE(window.view.model().run(), LogModel::Run::previous);
        auto* info = window.find<QLabel>(u"runInfoLabel"_s);
        QVERIFY(info->isVisible());
        QVERIFY2(info->text().startsWith(u"Ended "_s) && info->text().endsWith(u" · exited with code 3"_s),
            qPrintable(info->text()));
        QVERIFY(!window.find<GlyphButton>(u"clearButton"_s)->isEnabled());
        QApplication::clipboard()->clear();
        QTest::mouseClick(window.find<GlyphButton>(u"copyButton"_s), Qt::LeftButton);
        const QString copied = QApplication::clipboard()->text();
        QVERIFY2(copied.contains(u"  Error: boom\n"_s) && copied.contains(u"  ✖ Server exited with code 3"_s),
            qPrintable(copied));

        QTest::mouseClick(current, Qt::LeftButton);
        QCOMPARE(window.view.model().run(), LogModel::Run::current);
        QVERIFY(!info->isVisible());
        QVERIFY(window.find<GlyphButton>(u"clearButton"_s)->isEnabled());
        fixture.manager().stop(api);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::stopped));
    }

    // Ctrl+F searches (Enter, Shift+Enter, the count, errors only, Escape);
    // Ctrl+L clears as the button does; Ctrl+A and Ctrl+C copy the selected text.
    void keyboard()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig api = fixture.addChild(u"api"_s,
            { rawLine("find me once"), rawLine("nothing"), rawLine("FIND me twice"), u"sleep:300"_s,
                u"rawerr:"_s + QString::fromLatin1(QByteArray("find me in error\n").toHex()), u"hold"_s });
        fixture.manager().start(api);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.manager().state(api.id).logs.size(), 5, waitMs(20000));
        Window window(fixture);
        QVERIFY(window.show());
        window.view.activateWindow();
        window.log()->setFocus();

        auto* bar = window.find<QWidget>(u"searchBar"_s);
        QVERIFY(!bar->isVisible());
        QTest::keyClick(window.log(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        auto* field = window.find<QLineEdit>(u"searchField"_s);
        QTRY_VERIFY(field->hasFocus());
        QTest::keyClicks(field, u"find"_s);
        auto* count = window.find<QLabel>(u"matchCountLabel"_s);
        QCOMPARE(count->text(), u"3 of 3"_s);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(count->text(), u"1 of 3"_s);
        QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(count->text(), u"3 of 3"_s);
        QTest::mouseClick(window.find<QCheckBox>(u"errorsOnlyCheck"_s), Qt::LeftButton);
        QCOMPARE(count->text(), u"1 of 1"_s);
        QCOMPARE(window.view.model().shown().rowCount(), 1);
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QVERIFY(!window.view.model().errorsOnly());
        QCOMPARE(window.view.model().search().query(), QString());

        // Selection and Ctrl+C.
        window.log()->setFocus();
        QTest::keyClick(window.log(), Qt::Key_A, Qt::ControlModifier);
        QVERIFY(window.log()->hasSelection());
        QApplication::clipboard()->clear();
        QTest::keyClick(window.log(), Qt::Key_C, Qt::ControlModifier);
        const QString selected = QApplication::clipboard()->text();
        QVERIFY2(selected.contains(u"find me once\nnothing\nFIND me twice"_s), qPrintable(selected));
        QVERIFY(!selected.contains(QRegularExpression(u"\\d\\d:\\d\\d:\\d\\d"_s))); // times are not selectable

        // Ctrl+L clears.
        QTest::keyClick(window.log(), Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(fixture.manager().state(api.id).logs.size(), 0);
        QCOMPARE(window.view.model().shown().rowCount(), 0);
        fixture.manager().stop(api);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::stopped));
    }

    // The mouse selects the text of lines, not their times.
    void mouseSelection()
    {
        Test::UiFixture fixture(*m_environment);
        const QUuid id = fixture.addChild(u"api"_s, { u"hold"_s }).id;
        for (int i = 0; i < 5; ++i)
            fixture.manager().appendLog(id, u"line number %1"_s.arg(i), false);
        Window window(fixture);
        QVERIFY(window.show());
        LogView* log = window.log();
        const int left = log->textLeft();
        const int firstMiddle = log->rowTop(0) + 4;
        const int thirdMiddle = log->rowTop(2) + 4;
        QTest::mousePress(log->viewport(), Qt::LeftButton, {}, QPoint(left + 1, firstMiddle));
        QTest::mouseMove(log->viewport(), QPoint(log->viewport()->width() - 20, thirdMiddle));
        QTest::mouseRelease(log->viewport(), Qt::LeftButton, {}, QPoint(log->viewport()->width() - 20, thirdMiddle));
        QCOMPARE(log->selectedText(), u"line number 0\nline number 1\nline number 2"_s);
    }

    // The header's controls have names a screen reader can say, and follow the state.
    void headerControls()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig api = fixture.addChild(u"api"_s, { u"out:up"_s, u"hold"_s });
        Window window(fixture);
        QVERIFY(window.show());
        auto* startStop = window.find<GlyphButton>(u"startStopButton"_s);
        QCOMPARE(startStop->toolTip(), u"Start"_s);
        QCOMPARE(startStop->glyph(), u"play"_s);
        QCOMPARE(startStop->tone(), Tone::running);
        QTest::mouseClick(startStop, Qt::LeftButton);
        QCOMPARE(fixture.manager().state(api.id).status, ServerStatus::running);
        QCOMPARE(startStop->toolTip(), u"Stop"_s);
        QCOMPARE(startStop->glyph(), u"stop"_s);
        QCOMPARE(startStop->tone(), Tone::error);
        QCOMPARE(window.find<GlyphButton>(u"copyButton"_s)->toolTip(), u"Copy logs"_s);
        QCOMPARE(window.find<GlyphButton>(u"clearButton"_s)->toolTip(), u"Clear logs"_s);
        for (const QString& name : { u"serverList"_s, u"autoScrollSwitch"_s, u"searchButton"_s, u"copyButton"_s,
                 u"clearButton"_s, u"startStopButton"_s, u"searchField"_s, u"previousMatchButton"_s,
                 u"nextMatchButton"_s, u"errorsOnlyCheck"_s, u"closeSearchButton"_s, u"currentRunButton"_s,
                 u"previousRunButton"_s, u"logView"_s }) {
            QWidget* control = window.find<QWidget>(name);
            QVERIFY2(control && !control->accessibleName().isEmpty(), qPrintable(name));
        }
        QTest::mouseClick(startStop, Qt::LeftButton);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::stopped));
    }

    // A 64 KiB line is one tall row; the window paints it and stays responsive.
    void longLineIsOneRow()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig api = fixture.addChild(u"api"_s, { u"lines:1:65000"_s, u"out:after"_s, u"hold"_s });
        fixture.manager().start(api);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.manager().state(api.id).logs.size(), 3, waitMs(20000));
        Window window(fixture);
        QVERIFY(window.show());
        QCOMPARE(window.view.model().shown().rowCount(), 3);
        LogView* log = window.log();
        log->scrollToSeq(window.view.model().log().seqAt(1));
        QVERIFY(!window.log()->grab().isNull());
        const int rowHeight = log->rowTop(2) - log->rowTop(1);
        const int lineHeight = QFontMetrics(log->lineFont()).lineSpacing();
        QVERIFY2(rowHeight > 50 * lineHeight, qPrintable(QString::number(rowHeight)));
        log->scrollToBottom(false);
        QVERIFY(!window.log()->grab().isNull());
        fixture.manager().stop(api);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::stopped));
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
};

QTEST_MAIN(TestLogsView)
#include "TestLogsView.moc"
