// The tray icon under a real X server (Xvfb) with a real tray host (trayer):
// the icon docks, changes with the servers' state, opens the panel and the
// menu when clicked (real pointer events through XTEST), and comes back when
// the tray host goes away and returns. Run by CTest through xvfb-run.
#include "../supervision/StandardErrorCapture.h"
#include "../ui/UiFixture.h"
#include "TestEnvironment.h"
#include "app/AppOptions.h"
#include "app/WardlampApp.h"
#include "graph/SupervisorGraph.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "ui/widgets/PanelWindow.h"
#include "ui/widgets/TrayIcon.h"
#include "ui/widgets/TrayMenu.h"

#include <QApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using Wardlamp::Test::waitMs;

namespace {

// What colour dominates the icon on screen: counts of clearly green, clearly
// red and grey pixels.
struct IconColours {
    int green = 0;
    int red = 0;
    int grey = 0;
};

IconColours coloursAt(const QRect& geometry)
{
    IconColours counts;
    const QImage image = QGuiApplication::primaryScreen()
                             ->grabWindow(0, geometry.x(), geometry.y(), geometry.width(), geometry.height())
                             .toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > 120 && c.green() > c.red() + 50 && c.green() > c.blue() + 30)
                ++counts.green;
            else if (c.red() > 150 && c.red() > c.green() + 80)
                ++counts.red;
            else if (std::abs(c.red() - c.green()) < 12 && std::abs(c.green() - c.blue()) < 12 && c.value() < 140)
                ++counts.grey;
        }
    }
    return counts;
}

bool xdotool(const QStringList& arguments)
{
    return QProcess::execute(u"xdotool"_s, arguments) == 0;
}

bool clickAt(const QPoint& point, int button)
{
    return xdotool({ u"mousemove"_s, QString::number(point.x()), QString::number(point.y()), u"click"_s,
        QString::number(button) });
}

} // namespace

class TestTrayXvfb : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != u"xcb"_s)
            QSKIP("needs an X server (run through xvfb-run with QT_QPA_PLATFORM=xcb)");
        if (QStandardPaths::findExecutable(u"trayer"_s).isEmpty()
            || QStandardPaths::findExecutable(u"xdotool"_s).isEmpty())
            QFAIL("trayer and xdotool are needed (scripts/install-deps installs them)");
        m_environment = std::make_unique<Test::TestEnvironment>();
        qputenv("SHELL", "/bin/sh");
        startTrayer();
    }

    void cleanupTestCase() { stopTrayer(); }

    void iconDocksFollowsStateAndOpensThePanel()
    {
        const ServerConfig api = Test::serverRecord(u"api"_s, Test::childCommand({ u"out:ready"_s, u"hold"_s }), true);
        const ServerConfig failing
            = Test::serverRecord(u"failing"_s, Test::childCommand({ u"err:Error: boom"_s, u"hold"_s }), false);
        qputenv("WL_SEED_SERVERS", ServerConfig::encodeList({ api, failing }));
        Test::StandardErrorCapture capture;
        WardlampApp app { AppOptions {} };
        QSignalSpy started(&app, &WardlampApp::started);
        app.start();
        QVERIFY(started.wait(waitMs(20000)));
        ServerManager& manager = app.graph().manager();
        QSystemTrayIcon* tray = app.trayIcon()->systemTrayIcon();

        // Docked: the tray reports where the icon is, and it is drawn there.
        QTRY_VERIFY_WITH_TIMEOUT(tray->geometry().isValid() && !tray->geometry().isEmpty(), waitMs(10000));
        QVERIFY(!app.windowPanel()); // a tray is there: no window instead
        QCOMPARE(tray->toolTip(), u"Wardlamp"_s);
        const auto namedIconWindows = [] {
            int named = 0;
            for (QWidget* widget : QApplication::topLevelWidgets())
                named += widget->inherits("QSystemTrayIconSys") && widget->accessibleName() == u"Wardlamp"_s ? 1 : 0;
            return named;
        };
        QTRY_COMPARE_WITH_TIMEOUT(namedIconWindows(), 1, waitMs(5000));
        QCOMPARE(app.trayIcon()->kind(), TrayIconKind::running);
        QTRY_VERIFY_WITH_TIMEOUT(coloursAt(tray->geometry()).green > 20, waitMs(5000));

        // Stopped: the grey outline.
        manager.stop(api);
        QTRY_COMPARE_WITH_TIMEOUT(app.trayIcon()->kind(), TrayIconKind::idle, waitMs(10000));
        QTRY_VERIFY_WITH_TIMEOUT(
            coloursAt(tray->geometry()).green == 0 && coloursAt(tray->geometry()).grey > 10, waitMs(5000));

        // An error beats everything: the red triangle.
        manager.start(api);
        manager.start(failing);
        QTRY_COMPARE_WITH_TIMEOUT(app.trayIcon()->kind(), TrayIconKind::error, waitMs(10000));
        QTRY_VERIFY_WITH_TIMEOUT(coloursAt(tray->geometry()).red > 20, waitMs(5000));

        // A click on the icon opens the panel under it; Escape closes it.
        const QPoint centre = tray->geometry().center();
        QVERIFY(clickAt(centre, 1));
        QTRY_VERIFY_WITH_TIMEOUT(app.dropDownPanel() && app.dropDownPanel()->isVisible(), waitMs(5000));
        const QRect panel = app.dropDownPanel()->frameGeometry();
        QVERIFY2(panel.top() >= tray->geometry().bottom(), qPrintable(QString::number(panel.top())));
        QVERIFY(QGuiApplication::primaryScreen()->geometry().contains(panel));
        QVERIFY(xdotool({ u"key"_s, u"Escape"_s }));
        QTRY_VERIFY_WITH_TIMEOUT(!app.dropDownPanel()->isVisible(), waitMs(5000));

        // A second click while it is open closes it (and does not reopen it).
        QVERIFY(clickAt(centre, 1));
        QTRY_VERIFY_WITH_TIMEOUT(app.dropDownPanel()->isVisible(), waitMs(5000));
        QVERIFY(clickAt(centre, 1));
        QTRY_VERIFY_WITH_TIMEOUT(!app.dropDownPanel()->isVisible(), waitMs(5000));
        QTest::qWait(400);
        QVERIFY(!app.dropDownPanel()->isVisible());

        // The right button opens the mirroring menu.
        QVERIFY(clickAt(centre, 3));
        QTRY_VERIFY_WITH_TIMEOUT(app.trayIcon()->menu()->isVisible(), waitMs(5000));
        QCOMPARE(app.trayIcon()->menu()->serverMenus().size(), 2);
        QVERIFY(xdotool({ u"key"_s, u"Escape"_s }));
        QTRY_VERIFY_WITH_TIMEOUT(!app.trayIcon()->menu()->isVisible(), waitMs(5000));

        // The tray host goes away and comes back: so does the icon.
        stopTrayer();
        QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), waitMs(10000));
        startTrayer();
        QTRY_VERIFY_WITH_TIMEOUT(tray->geometry().isValid() && !tray->geometry().isEmpty(), waitMs(10000));
        QTRY_VERIFY_WITH_TIMEOUT(coloursAt(tray->geometry()).red > 20, waitMs(5000));
        // The icon's window is a new one, and is named too.
        QTRY_COMPARE_WITH_TIMEOUT(namedIconWindows(), 1, waitMs(5000));
        QVERIFY(clickAt(tray->geometry().center(), 1));
        QTRY_VERIFY_WITH_TIMEOUT(app.dropDownPanel()->isVisible(), waitMs(5000));

        QSignalSpy finished(&app, &WardlampApp::finished);
        app.quit();
        QVERIFY(finished.wait(waitMs(20000)));
        QVERIFY(!app.dropDownPanel()->isVisible());
        capture.take();
    }

private:
    void startTrayer()
    {
        m_trayer = std::make_unique<QProcess>();
        m_trayer->start(u"trayer"_s,
            { u"--edge"_s, u"top"_s, u"--align"_s, u"right"_s, u"--widthtype"_s, u"pixel"_s, u"--width"_s, u"120"_s,
                u"--height"_s, u"32"_s, u"--SetDockType"_s, u"true"_s, u"--transparent"_s, u"false"_s, u"--tint"_s,
                u"0xdddddd"_s });
        QVERIFY(m_trayer->waitForStarted(waitMs(10000)));
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), waitMs(10000));
    }

    void stopTrayer()
    {
        if (!m_trayer)
            return;
        m_trayer->terminate();
        m_trayer->waitForFinished(waitMs(10000));
        m_trayer.reset();
    }

    std::unique_ptr<Test::TestEnvironment> m_environment;
    std::unique_ptr<QProcess> m_trayer;
};

QTEST_MAIN(TestTrayXvfb)
#include "TestTrayXvfb.moc"
