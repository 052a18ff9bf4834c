// The display going away under the real wardlamp: it starts on an Xvfb of the
// test's own, the X server is killed, and every server still gets SIGTERM
// (and the time to clean up) before the app is gone.
#include "../ui/UiFixture.h"
#include "TestEnvironment.h"
#include "supervision/ServerConfig.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using Wardlamp::Test::waitMs;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestDisplayLoss : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(u"Xvfb"_s).isEmpty())
            QFAIL("Xvfb is needed (scripts/install-deps installs it)");
        m_environment = std::make_unique<Test::TestEnvironment>();
    }

    void serversAreStoppedTheOrderlyWayWhenTheDisplayGoes()
    {
        // Xvfb picks a free display and writes its number to the pipe.
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        QProcess xvfb;
        xvfb.setProgram(u"Xvfb"_s);
        xvfb.setArguments({ u"-displayfd"_s, QString::number(fds[1]), u"-screen"_s, u"0"_s, u"640x480x24"_s,
            u"-nolisten"_s, u"tcp"_s });
        xvfb.setChildProcessModifier([fds] { ::close(fds[0]); });
        xvfb.start();
        QVERIFY(xvfb.waitForStarted(waitMs(10000)));
        ::close(fds[1]);
        QByteArray number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            number.append(c);
        ::close(fds[0]);
        QVERIFY2(!number.isEmpty(), "Xvfb did not say its display");

        const QString first = m_environment->path(u"term-first"_s);
        const QString second = m_environment->path(u"term-second"_s);
        auto server = [](const QString& name, const QString& file) {
            return Test::serverRecord(name,
                u"trap 'echo term > %1; exit 0' TERM; echo ready > %1.ready; while :; do sleep 0.05; done"_s.arg(file),
                true);
        };
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DISPLAY"_s, u":"_s + QString::fromLatin1(number));
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        environment.insert(u"SHELL"_s, u"/bin/sh"_s);
        environment.insert(u"WL_SEED_SERVERS"_s,
            QString::fromUtf8(ServerConfig::encodeList({ server(u"first"_s, first), server(u"second"_s, second) })));
        // No bus: nothing may ask a keyring anything with a display around.
        environment.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        QProcess app;
        app.setProcessEnvironment(environment);
        app.start(Test::program(u"wardlamp"_s), {});
        QVERIFY(app.waitForStarted(waitMs(10000)));
        // Both servers run, their traps set.
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(first + u".ready"_s) && QFile::exists(second + u".ready"_s), waitMs(20000));
        QByteArray err = app.readAllStandardError();
        QVERIFY2(err.contains("no system tray"), err.constData());

        xvfb.kill();
        QVERIFY(xvfb.waitForFinished(waitMs(10000)));
        QVERIFY(app.waitForFinished(waitMs(20000)));
        QCOMPARE(readFile(first), QByteArray("term\n"));
        QCOMPARE(readFile(second), QByteArray("term\n"));
        err += app.readAllStandardError();
        QVERIFY2(err.contains("stopping every server"), err.constData());
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
};

QTEST_GUILESS_MAIN(TestDisplayLoss)
#include "TestDisplayLoss.moc"
