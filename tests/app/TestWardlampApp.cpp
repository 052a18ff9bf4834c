// The application object offscreen (no tray there): one graph, the start-up
// step once, the panel as a window with one line saying why, single windows,
// and every end stopping the servers the orderly way.
#include "../supervision/StandardErrorCapture.h"
#include "../ui/UiFixture.h"
#include "TestEnvironment.h"
#include "app/AppOptions.h"
#include "app/WardlampApp.h"
#include "graph/SupervisorGraph.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "ui/widgets/AppWindows.h"
#include "ui/widgets/MenuButton.h"
#include "ui/widgets/MenuContentView.h"
#include "ui/widgets/PanelWindow.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using Wardlamp::Test::waitMs;

Q_DECLARE_METATYPE(Wardlamp::AppOptions::Surface)

namespace {

// A server that writes "term" to `file` when SIGTERM reaches it, and exits.
ServerConfig cleanupServer(const QString& name, const QString& file)
{
    return Test::serverRecord(
        name, u"trap 'echo term > %1; exit 0' TERM; echo ready; while :; do sleep 0.05; done"_s.arg(file), true);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestWardlampApp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_environment = std::make_unique<Test::TestEnvironment>();
        qputenv("SHELL", "/bin/sh");
    }

    void cleanup() { qunsetenv("WL_SEED_SERVERS"); }

    void noTrayShowsThePanelAsAWindowAndSaysWhy()
    {
        const ServerConfig api = Test::serverRecord(u"api"_s, Test::childCommand({ u"out:ready"_s, u"hold"_s }), true);
        const ServerConfig idle = Test::serverRecord(u"idle"_s, Test::childCommand({ u"hold"_s }), false);
        qputenv("WL_SEED_SERVERS", ServerConfig::encodeList({ api, idle }));

        Test::StandardErrorCapture capture;
        WardlampApp app { AppOptions {} };
        QSignalSpy started(&app, &WardlampApp::started);
        app.start();
        QVERIFY(started.wait(waitMs(20000)));
        const QByteArray err = capture.take();
        QCOMPARE(err.count("no system tray is available"), 1);
        QVERIFY2(err.startsWith("Wardlamp: "), err.constData());

        QVERIFY(app.windowPanel());
        QVERIFY(app.windowPanel()->isVisible());
        QCOMPARE(app.windowPanel()->windowTitle(), u"Wardlamp"_s);
        QVERIFY(app.models());
        // The autostart server runs, the other does not.
        ServerManager& manager = app.graph().manager();
        QCOMPARE(manager.state(api.id).status, ServerStatus::running);
        QCOMPARE(manager.states().contains(idle.id), false);
        QCOMPARE(app.windowPanel()->content()->rows().size(), 2);

        // Closing the window keeps the app; asking for the panel brings it back.
        app.windowPanel()->close();
        QVERIFY(!app.isQuitting());
        app.show(AppOptions::Surface::panel);
        QTRY_VERIFY(app.windowPanel()->isVisible());

        QCOMPARE(started.size(), 1);
        app.quit();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.anyProcessAlive(), waitMs(20000));
    }

    void oneWindowOfEachComingForward_data()
    {
        QTest::addColumn<AppOptions::Surface>("surface");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QSize>("size");
        QTest::newRow("logs") << AppOptions::Surface::logs << u"logs"_s << u"Server Logs"_s << QSize(760, 480);
        QTest::newRow("settings") << AppOptions::Surface::settings << u"settings"_s << u"Wardlamp Settings"_s
                                  << QSize(680, 480);
    }

    void oneWindowOfEachComingForward()
    {
        QFETCH(AppOptions::Surface, surface);
        QFETCH(QString, id);
        QFETCH(QString, title);
        QFETCH(QSize, size);
        qputenv("WL_SEED_SERVERS", "[]");
        Test::StandardErrorCapture capture;
        WardlampApp app { AppOptions {} };
        QSignalSpy started(&app, &WardlampApp::started);
        app.start();
        QVERIFY(started.wait(waitMs(20000)));
        capture.take();

        const WindowId windowId = surface == AppOptions::Surface::logs ? WindowId::logs : WindowId::settings;
        app.show(surface);
        QPointer<QWidget> first = app.windows()->window(windowId);
        QVERIFY(first);
        QVERIFY(QTest::qWaitForWindowExposed(first));
        QCOMPARE(first->objectName(), id);
        QCOMPARE(first->windowTitle(), title);
        QCOMPARE(first->size(), size);

        // Asked again: the same window, shown and forward.
        first->showMinimized();
        app.show(surface);
        QCOMPARE(app.windows()->window(windowId), first.data());
        QTRY_VERIFY(first->isVisible() && !first->isMinimized());
        int windows = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            windows += widget->objectName() == id ? 1 : 0;
        QCOMPARE(windows, 1);

        // Closing it never ends the app; the next request makes a fresh one.
        first->close();
        QTRY_VERIFY(!first);
        QVERIFY(!app.isQuitting());
        app.show(surface);
        QVERIFY(app.windows()->window(windowId));
        QVERIFY(app.windows()->window(windowId)->isVisible());

        // The panel's command opens it too.
        app.windows()->window(windowId)->close();
        QTRY_VERIFY(!app.windows()->window(windowId));
        auto* button = app.windowPanel()->content()->findChild<MenuButton*>(
            surface == AppOptions::Surface::logs ? u"viewLogsButton"_s : u"settingsButton"_s);
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(app.windows()->window(windowId));
        app.quit();
    }

    // However the app is asked to end, each server gets SIGTERM (and time to
    // clean up) before the app exits.
    void everyEndStopsTheServersTheOrderlyWay_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Quit Wardlamp") << u"button"_s;
        QTest::newRow("SIGTERM") << u"SIGTERM"_s;
        QTest::newRow("SIGHUP") << u"SIGHUP"_s;
    }

    void everyEndStopsTheServersTheOrderlyWay()
    {
        QFETCH(QString, how);
        const QString first = m_environment->path(u"term-a-%1"_s.arg(how));
        const QString second = m_environment->path(u"term-b-%1"_s.arg(how));
        qputenv("WL_SEED_SERVERS",
            ServerConfig::encodeList({ cleanupServer(u"a"_s, first), cleanupServer(u"b"_s, second) }));
        Test::StandardErrorCapture capture;
        WardlampApp app { AppOptions {} };
        QSignalSpy started(&app, &WardlampApp::started);
        app.start();
        QVERIFY(started.wait(waitMs(20000)));
        ServerManager& manager = app.graph().manager();
        QCOMPARE(manager.runningCount(), 2);
        for (const ServerConfig& server : app.graph().store().servers())
            QTRY_VERIFY_WITH_TIMEOUT(manager.state(server.id).logs.size() > 1, waitMs(20000));
        QSignalSpy finished(&manager, &ServerManager::shutdownFinished);

        if (how == u"button"_s)
            QTest::mouseClick(app.windowPanel()->content()->findChild<MenuButton*>(u"quitButton"_s), Qt::LeftButton);
        else
            app.handleSignal(how == u"SIGTERM"_s ? SIGTERM : SIGHUP);
        QVERIFY(app.isQuitting());
        QVERIFY(!app.windowPanel()->isVisible());
        QVERIFY(finished.wait(waitMs(20000)));
        QCOMPARE(readFile(first), QByteArray("term\n"));
        QCOMPARE(readFile(second), QByteArray("term\n"));
        QVERIFY(!manager.anyProcessAlive());
        const QByteArray err = capture.take();
        if (how != u"button"_s)
            QVERIFY2(err.contains(QByteArray(how.toUtf8() + ": stopping every server")), err.constData());
    }

    // A server that ignores SIGTERM gets SIGKILL after the grace; a second
    // request does not wait for it. The grace here is far longer than the
    // wait, so only the second request can end the shutdown in time.
    void secondRequestDoesNotWaitOutTheGrace()
    {
        const QString pidFile = m_environment->path(u"stubborn.pid"_s);
        qputenv("WL_SEED_SERVERS",
            ServerConfig::encodeList({ Test::serverRecord(
                u"stubborn"_s, Test::childCommand({ u"ignore-term"_s, u"pidfile:"_s + pidFile, u"hold"_s }), true) }));
        Test::StandardErrorCapture capture;
        WardlampApp app { AppOptions {} };
        app.setQuitGrace(std::chrono::minutes(10));
        QSignalSpy started(&app, &WardlampApp::started);
        app.start();
        QVERIFY(started.wait(waitMs(20000)));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), waitMs(20000));
        const qint64 pid = readFile(pidFile).trimmed().toLongLong();
        QSignalSpy finished(&app.graph().manager(), &ServerManager::shutdownFinished);
        app.quit();
        QTest::qWait(200);
        QVERIFY(!Test::processGone(pid)); // it ignores SIGTERM, the grace runs
        app.quit();
        QVERIFY(finished.wait(waitMs(20000)));
        QVERIFY(Test::processGone(pid));
        capture.take();
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
};

QTEST_MAIN(TestWardlampApp)
#include "TestWardlampApp.moc"
