#include "platform/FreedesktopNotifier.h"

#include "TestEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using Wardlamp::FreedesktopNotifier;

namespace {

const QString serviceName = u"org.freedesktop.Notifications"_s;

struct NotifyCall {
    QString sender; // unique bus name of the caller
    QString app;
    uint replaces = 0;
    QString icon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int timeout = 0;
};

// A notification server of our own on the real session bus, so the test sees
// exactly what went over the wire. Other programs on the same bus (a daemon
// another test runs) may notify too, so calls carry their sender.
class FakeNotifications : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<NotifyCall> calls;
    QStringList capabilities { u"body"_s };

    QList<NotifyCall> callsFrom(const QDBusConnection& bus) const
    {
        QList<NotifyCall> from;
        for (const NotifyCall& call : calls) {
            if (call.sender == bus.baseService())
                from.append(call);
        }
        return from;
    }

public Q_SLOTS:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary, const QString& body,
        const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        calls.append({ message().service(), app, replaces, icon, summary, body, actions, hints, timeout });
        return uint(calls.size());
    }
    QStringList GetCapabilities() { return capabilities; }
    void CloseNotification(uint) { }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = u"test"_s;
        version = u"0"_s;
        specVersion = u"1.2"_s;
        return u"fake"_s;
    }
};

} // namespace

class TestFreedesktopNotifier : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_environment = std::make_unique<Wardlamp::Test::TestEnvironment>();
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus: run through scripts/run-tests");
    }

    void sendsOneNotification()
    {
        QDBusConnection fakeBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"fake-notifications"_s);
        FakeNotifications fake;
        QVERIFY(fakeBus.registerObject(u"/org/freedesktop/Notifications"_s, &fake,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(fakeBus.registerService(serviceName));
        auto unregister = qScopeGuard([&] {
            fakeBus.unregisterService(serviceName);
            fakeBus.unregisterObject(u"/org/freedesktop/Notifications"_s);
            QDBusConnection::disconnectFromBus(u"fake-notifications"_s);
        });

        FreedesktopNotifier notifier;
        const QString title = u"\u26A0\uFE0F 100% %s error"_s;
        const QString body = u"disk 100% full %s — 😀 e\u0301"_s;
        notifier.notify(title, body);
        const QDBusConnection ourBus = QDBusConnection::sessionBus();
        QTRY_COMPARE_WITH_TIMEOUT(fake.callsFrom(ourBus).size(), 1, Wardlamp::Test::waitMs(5000));
        const NotifyCall call = fake.callsFrom(ourBus).at(0);
        QCOMPARE(call.app, u"Wardlamp"_s);
        QCOMPARE(call.replaces, 0u);
        QCOMPARE(call.icon, QString(FreedesktopNotifier::iconName));
        QCOMPARE(call.summary, title);
        QCOMPARE(call.body, body);
        QVERIFY(call.actions.isEmpty());
        QCOMPARE(call.timeout, -1);

        notifier.notify(u"second"_s, QString());
        QTRY_COMPARE_WITH_TIMEOUT(fake.callsFrom(ourBus).size(), 2, Wardlamp::Test::waitMs(5000));
        QCOMPARE(fake.callsFrom(ourBus).at(1).summary, u"second"_s);
    }

    // A server that reads the body as markup gets it escaped, so a stack
    // line such as "at Object.<anonymous>" is shown as written; one without
    // markup gets the text untouched.
    void bodyIsShownAsWritten_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("expectedBody");
        QTest::newRow("body-markup") << QStringList { u"body"_s, u"body-markup"_s }
                                     << u"at Object.&lt;anonymous&gt; &amp; &lt;b&gt;x&lt;/b&gt;"_s;
        QTest::newRow("plain body") << QStringList { u"body"_s } << u"at Object.<anonymous> & <b>x</b>"_s;
    }

    void bodyIsShownAsWritten()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, expectedBody);
        QDBusConnection fakeBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"fake-notifications"_s);
        FakeNotifications fake;
        fake.capabilities = capabilities;
        QVERIFY(fakeBus.registerObject(u"/org/freedesktop/Notifications"_s, &fake,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(fakeBus.registerService(serviceName));
        auto unregister = qScopeGuard([&] {
            fakeBus.unregisterService(serviceName);
            fakeBus.unregisterObject(u"/org/freedesktop/Notifications"_s);
            QDBusConnection::disconnectFromBus(u"fake-notifications"_s);
        });

        FreedesktopNotifier notifier;
        notifier.notify(u"t1"_s, u"at Object.<anonymous> & <b>x</b>"_s);
        notifier.notify(u"t2"_s, u"at Object.<anonymous> & <b>x</b>"_s); // before and after the answer
        const QDBusConnection ourBus = QDBusConnection::sessionBus();
        QTRY_COMPARE_WITH_TIMEOUT(fake.callsFrom(ourBus).size(), 2, Wardlamp::Test::waitMs(5000));
        notifier.notify(u"t3"_s, u"at Object.<anonymous> & <b>x</b>"_s);
        QTRY_COMPARE_WITH_TIMEOUT(fake.callsFrom(ourBus).size(), 3, Wardlamp::Test::waitMs(5000));
        const QList<NotifyCall> calls = fake.callsFrom(ourBus);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(calls.at(i).summary, u"t%1"_s.arg(i + 1));
            QCOMPARE(calls.at(i).body, expectedBody);
        }
    }

    // With nobody serving notifications the call returns at once; nothing
    // waits for the error reply.
    void noServiceReturnsAtOnce()
    {
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(serviceName));
        FreedesktopNotifier notifier;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 20; ++i)
            notifier.notify(u"title"_s, u"body"_s);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QTest::qWait(50); // let the error replies arrive and be dropped
    }

    void noBusIsNothing()
    {
        const QDBusConnection none(u"no-such-connection"_s);
        QVERIFY(!none.isConnected());
        FreedesktopNotifier notifier(none);
        notifier.notify(u"title"_s, u"body"_s); // no crash, no hang
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_environment;
};

QTEST_GUILESS_MAIN(TestFreedesktopNotifier)
#include "TestFreedesktopNotifier.moc"
