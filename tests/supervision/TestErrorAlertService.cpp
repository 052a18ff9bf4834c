#include "supervision/ErrorAlertService.h"
#include "supervision/Notifier.h"
#include "supervision/ServerConfig.h"

#include "StandardErrorCapture.h"
#include "TestEnvironment.h"
#include "TestServers.h"

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
namespace Test = Wardlamp::Test;
using namespace std::chrono_literals;
using Wardlamp::ErrorAlertService;
using Wardlamp::ServerConfig;

namespace {

// Records what would be shown; the D-Bus notifier has its own test.
class RecordingNotifier : public Wardlamp::Notifier {
public:
    void notify(const QString& title, const QString& body) override { calls.append({ title, body }); }
    QList<std::pair<QString, QString>> calls;
};

} // namespace

class TestErrorAlertService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Wardlamp::Test::TestEnvironment>(); }

    void debounce_data()
    {
        QTest::addColumn<QList<int>>("servers"); // which server errs, per event
        QTest::addColumn<QList<int>>("atMs"); // when, in ms from the start
        QTest::addColumn<QList<bool>>("alerted");

        QTest::newRow("first error alerts") << QList { 0 } << QList { 0 } << QList { true };
        QTest::newRow("10 s apart: one alert") << QList { 0, 0 } << QList { 0, 10'000 } << QList { true, false };
        QTest::newRow("third at 31 s alerts again")
            << QList { 0, 0, 0 } << QList { 0, 10'000, 31'000 } << QList { true, false, true };
        QTest::newRow("just under 30 s") << QList { 0, 0 } << QList { 0, 29'999 } << QList { true, false };
        QTest::newRow("exactly 30 s") << QList { 0, 0 } << QList { 0, 30'000 } << QList { true, true };
        QTest::newRow("suppressed errors do not refresh the time")
            << QList { 0, 0, 0, 0 } << QList { 0, 20'000, 29'000, 30'000 } << QList { true, false, false, true };
        QTest::newRow("two servers within a second") << QList { 0, 1 } << QList { 0, 500 } << QList { true, true };
        QTest::newRow("servers interleaved")
            << QList { 0, 1, 0, 1, 0, 1 } << QList { 0, 1'000, 5'000, 6'000, 30'000, 31'500 }
            << QList { true, true, false, false, true, true };
    }

    void debounce()
    {
        QFETCH(QList<int>, servers);
        QFETCH(QList<int>, atMs);
        QFETCH(QList<bool>, alerted);

        const ServerConfig configs[] = { Test::server(u"web"_s), Test::server(u"db"_s) };
        ErrorAlertService service;
        RecordingNotifier notifier;
        service.setNotifier(&notifier);
        const auto start = ErrorAlertService::Clock::now();
        std::chrono::milliseconds offset { 0 };
        service.setClock([&] { return start + offset; });
        QList<QString> handled;
        service.setCustomHandler(
            [&](const ServerConfig& config, const QString& message) { handled.append(config.name + u':' + message); });

        QList<QString> expected;
        QByteArray expectedLog;
        Wardlamp::Test::StandardErrorCapture capture;
        for (qsizetype i = 0; i < servers.size(); ++i) {
            offset = std::chrono::milliseconds(atMs[i]);
            const ServerConfig& config = configs[servers[i]];
            const QString message = u"error #"_s + QString::number(i);
            service.alert(config, message);
            if (alerted[i]) {
                expected.append(config.name + u':' + message);
                expectedLog += ErrorAlertService::logLine(config.name, message);
            }
        }
        QCOMPARE(capture.take(), expectedLog);
        QCOMPARE(handled, expected);
        QCOMPARE(notifier.calls.size(), expected.size());
    }

    // The line is written literally, with nothing interpreted.
    void logLineOnStandardError_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("line");

        QTest::newRow("exit message") << u"api"_s << u"Server exited with code 1"_s
                                      << QByteArray("Wardlamp ALERT [api]: Server exited with code 1\n");
        QTest::newRow("percent signs and format sequences")
            << u"100% %s"_s << u"disk 100% full %s %n %d %%"_s
            << QByteArray("Wardlamp ALERT [100% %s]: disk 100% full %s %n %d %%\n");
        QTest::newRow("unicode") << u"サーバー"_s << u"✖ Server killed by signal 9"_s
                                 << QString(u"Wardlamp ALERT [サーバー]: ✖ Server killed by signal 9\n"_s).toUtf8();
        QTest::newRow("empty") << QString() << QString() << QByteArray("Wardlamp ALERT []: \n");
    }

    void logLineOnStandardError()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        QFETCH(QByteArray, line);
        ErrorAlertService service; // no notifier: only the line (and a handler, if any)
        bool handled = false;
        service.setCustomHandler([&](const ServerConfig&, const QString& text) { handled = text == message; });
        Wardlamp::Test::StandardErrorCapture capture;
        service.alert(Test::server(name), message);
        QCOMPARE(capture.take(), line);
        QVERIFY(handled);
    }

    void notificationTexts()
    {
        ErrorAlertService service;
        RecordingNotifier notifier;
        service.setNotifier(&notifier);
        const QString longMessage = QString(500, u'x');
        Wardlamp::Test::StandardErrorCapture capture;
        service.alert(Test::server(u"db"_s), longMessage);
        service.alert(Test::server(u"100% %s"_s), u"disk 100% full %s"_s);
        QCOMPARE(capture.take(),
            "Wardlamp ALERT [db]: " + longMessage.toLatin1() + "\nWardlamp ALERT [100% %s]: disk 100% full %s\n");
        QCOMPARE(notifier.calls.size(), 2);
        QCOMPARE(notifier.calls[0].first, u"\u26A0\uFE0F db error"_s);
        QCOMPARE(notifier.calls[0].second, QString(180, u'x'));
        QCOMPARE(notifier.calls[1].first, u"\u26A0\uFE0F 100% %s error"_s);
        QCOMPARE(notifier.calls[1].second, u"disk 100% full %s"_s);
    }

    // The body is cut after 180 user-perceived characters, never inside one.
    void bodyKeepsCharactersWhole_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("body");

        const QString a179(179, u'a');
        QTest::newRow("short") << u"short"_s << u"short"_s;
        QTest::newRow("exactly 180") << QString(180, u'b') << QString(180, u'b');
        QTest::newRow("181") << QString(181, u'b') << QString(180, u'b');
        QTest::newRow("surrogate pair at the cut") << a179 + u"😀😀"_s << a179 + u"😀"_s;
        QTest::newRow("combining sequence at the cut") << a179 + u"e\u0301\u0323z"_s << a179 + u"e\u0301\u0323"_s;
        QTest::newRow("flag at the cut") << a179 + u"🇩🇪🇫🇷"_s << a179 + u"🇩🇪"_s;
        QTest::newRow("joined emoji at the cut")
            << a179 + u"👩‍👩‍👧‍👦x"_s << a179 + u"👩‍👩‍👧‍👦"_s;
        QTest::newRow("CR LF counts as one") << QString(179, u'c') + u"\r\nz"_s << QString(179, u'c') + u"\r\n"_s;
        QTest::newRow("all wide characters") << QString(300, QChar(0x4E00)) << QString(180, QChar(0x4E00));
    }

    void bodyKeepsCharactersWhole()
    {
        QFETCH(QString, message);
        QFETCH(QString, body);
        QCOMPARE(ErrorAlertService::notificationBody(message), body);
    }

    void sharedIsOneInstance()
    {
        ErrorAlertService* first = &ErrorAlertService::shared();
        QCOMPARE(&ErrorAlertService::shared(), first);
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_environment;
};

QTEST_GUILESS_MAIN(TestErrorAlertService)
#include "TestErrorAlertService.moc"
