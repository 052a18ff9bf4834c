// Spotting an address-in-use message and its port.

#include "TestEnvironment.h"
#include "supervision/LineClassifier.h"
#include "supervision/PortInUse.h"

#include <QtTest>

using namespace Wardlamp;

using OptionalInt = std::optional<int>;
Q_DECLARE_METATYPE(OptionalInt)

class TestPortInUse : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    void detect_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<OptionalInt>("port");
        QTest::newRow("node, colon pattern")
            << QStringLiteral("Error: listen EADDRINUSE: address already in use :::3000") << OptionalInt(3000);
        QTest::newRow("question, port pattern")
            << QStringLiteral("Failed to start server. Is port 3000 in use?") << OptionalInt(3000);
        QTest::newRow("eaddrinuse without number") << QStringLiteral("Error: EADDRINUSE") << OptionalInt();
        QTest::newRow("number not after colon") << QStringLiteral("EADDRINUSE 3000") << OptionalInt();
        QTest::newRow("no in-use wording") << QStringLiteral("port 3000 is free") << OptionalInt();
        QTest::newRow("port and in use") << QStringLiteral("Port 8080 is already in use") << OptionalInt(8080);
        QTest::newRow("address in use with host")
            << QStringLiteral("bind: address already in use 127.0.0.1:5432") << OptionalInt(5432);
        QTest::newRow("port word first") << QStringLiteral("PORT=4000 in use, see :5000") << OptionalInt(4000);
        QTest::newRow("port word too far from number")
            << QStringLiteral("port is busy: 1234567 in use :8081") << OptionalInt(8081);
        QTest::newRow("not range checked") << QStringLiteral("port 99999 in use") << OptionalInt(99999);
        QTest::newRow("six digits after colon") << QStringLiteral("EADDRINUSE :::123456") << OptionalInt();
        QTest::newRow("single digit") << QStringLiteral("address already in use :8") << OptionalInt();
        QTest::newRow("in use? alone") << QStringLiteral("is :9229 in use?") << OptionalInt(9229);
        QTest::newRow("upper case wording") << QStringLiteral("ADDRESS ALREADY IN USE :7000") << OptionalInt(7000);
        QTest::newRow("empty") << QString() << OptionalInt();
    }

    void detect()
    {
        QFETCH(QString, line);
        QFETCH(OptionalInt, port);
        QCOMPARE(PortInUse::detect(line), port);
        // The cheap test never hides a message the full test would find.
        if (port)
            QVERIFY(PortInUse::mayMentionAscii(line.toUtf8()));
        const QByteArray bytes = line.toUtf8();
        QByteArray chunk = bytes + '\n' + QByteArray(LineClassifier::readPastEnd, ' ');
        // Every marking kernel this CPU can run gives the same answer.
        for (const auto kernel : { LineClassifier::Kernel::avx512, LineClassifier::Kernel::avx2,
                 LineClassifier::Kernel::sse2, LineClassifier::Kernel::scalar }) {
            if (!LineClassifier::forceKernel(kernel))
                continue;
            LineClassifier classifier;
            classifier.scan(chunk.constData(), bytes.size() + 1);
            const bool agrees = classifier.mayMentionPort(0, bytes.size()) == PortInUse::mayMentionAscii(bytes);
            LineClassifier::forceKernel(LineClassifier::Kernel::automatic);
            QVERIFY2(agrees, qPrintable(QStringLiteral("kernel %1").arg(int(kernel))));
        }
    }

    // In-use messages of servers that carry on with another port, and of
    // servers that gave up.
    void saysItCarriesOn_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("carriesOn");
        QTest::newRow("vite") << QStringLiteral("Port 5173 is in use, trying another one...") << true;
        QTest::newRow("next") << QStringLiteral("Port 3000 is in use, trying 3001 instead.") << true;
        QTest::newRow("next with sign") << QStringLiteral("\u26A0 Port 3000 is in use, trying 3001 instead.") << true;
        QTest::newRow("upper case") << QStringLiteral("PORT 80 IN USE, TRYING ANOTHER") << true;
        QTest::newRow("node") << QStringLiteral("Error: listen EADDRINUSE: address already in use :::3000") << false;
        QTest::newRow("vite strict port") << QStringLiteral("Error: Port 5173 is already in use") << false;
        QTest::newRow("question") << QStringLiteral("Failed to start server. Is port 3000 in use?") << false;
    }
    void saysItCarriesOn()
    {
        QFETCH(QString, line);
        QFETCH(bool, carriesOn);
        QVERIFY(PortInUse::detect(line).has_value());
        QCOMPARE(PortInUse::saysItCarriesOn(line), carriesOn);
    }

    void firstCapturedInt_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptionalInt>("value");
        QTest::newRow("first match wins") << QStringLiteral("a(\\d+)") << QStringLiteral("a42 a7") << OptionalInt(42);
        QTest::newRow("no match") << QStringLiteral("a(\\d+)") << QStringLiteral("b42") << OptionalInt();
        QTest::newRow("does not compile") << QStringLiteral("(") << QStringLiteral("(1)") << OptionalInt();
        QTest::newRow("no group") << QStringLiteral("\\d+") << QStringLiteral("12") << OptionalInt();
        QTest::newRow("group not taking part") << QStringLiteral("(x)?y") << QStringLiteral("y") << OptionalInt();
        QTest::newRow("group not a number") << QStringLiteral("(\\w+)") << QStringLiteral("abc") << OptionalInt();
        QTest::newRow("leading zeros") << QStringLiteral(":(\\d+)") << QStringLiteral(":0080") << OptionalInt(80);
    }

    void firstCapturedInt()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QFETCH(OptionalInt, value);
        QCOMPARE(PortInUse::firstCapturedInt(pattern, text), value);
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestPortInUse)
#include "TestPortInUse.moc"
