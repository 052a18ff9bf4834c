#include "agent/ReplayGuard.h"

#include <QTest>

using namespace Wardlamp;

class TestReplayGuard : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void accept_data()
    {
        QTest::addColumn<int>("capacity");
        // Nonces offered in order (one letter each) and whether each is accepted.
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("accepted");
        QTest::newRow("fresh nonces") << 4 << "abcd"
                                      << "yyyy";
        QTest::newRow("a repeat is refused") << 4 << "abab"
                                             << "yynn";
        QTest::newRow("refused as often as it comes") << 4 << "aaaa"
                                                      << "ynnn";
        QTest::newRow("the oldest is forgotten first") << 2 << "abca"
                                                       << "yyyy";
        QTest::newRow("the newer ones are still known") << 2 << "abcbc"
                                                        << "yyynn";
        QTest::newRow("a refusal does not refresh") << 2 << "abac"
                                                    << "yyny";
        QTest::newRow("capacity one") << 1 << "aabba"
                                      << "ynyny";
        QTest::newRow("capacity below one reads as one") << 0 << "aab"
                                                         << "yny";
    }
    void accept()
    {
        QFETCH(int, capacity);
        QFETCH(QString, offered);
        QFETCH(QString, accepted);
        ReplayGuard guard(capacity);
        QString got;
        for (const QChar nonce : offered)
            got += guard.accept(QByteArray(12, char(nonce.toLatin1()))) ? u'y' : u'n';
        QCOMPARE(got, accepted);
        QVERIFY(guard.size() <= std::max(capacity, 1));
    }

    void clearForgetsEverything()
    {
        ReplayGuard guard(8);
        QVERIFY(guard.accept("one"));
        QVERIFY(guard.accept("two"));
        guard.clear();
        QCOMPARE(guard.size(), 0);
        QVERIFY(guard.accept("one"));
    }
};

QTEST_GUILESS_MAIN(TestReplayGuard)
#include "TestReplayGuard.moc"
