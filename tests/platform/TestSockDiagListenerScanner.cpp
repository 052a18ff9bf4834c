#include "platform/SockDiagListenerScanner.h"

#include "TestChild.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>
#include <QtConcurrent>

#include <algorithm>
#include <csignal>
#include <memory>
#include <unistd.h>

using namespace Wardlamp;

namespace {

// Reads stdout until a line starts with `prefix`; the number after it, or 0.
int readNumber(QProcess& process, const QByteArray& prefix)
{
    for (;;) {
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith(prefix))
                return line.mid(prefix.size()).toInt();
        }
        if (!process.waitForReadyRead(Test::waitMs(10000)))
            return 0;
    }
}

QList<qint32> sorted(QList<qint32> pids)
{
    std::sort(pids.begin(), pids.end());
    return pids;
}

// What lsof says, when it is installed; nothing otherwise.
std::optional<QList<qint32>> lsofPids(quint16 port)
{
    const QString lsof = QStandardPaths::findExecutable(u"lsof"_qs);
    if (lsof.isEmpty())
        return std::nullopt;
    QProcess process;
    process.start(lsof, { u"-nP"_qs, u"-iTCP:"_qs + QString::number(port), u"-sTCP:LISTEN"_qs, u"-t"_qs });
    if (!process.waitForFinished(Test::waitMs(20000)))
        return std::nullopt;
    QList<qint32> pids;
    for (const QByteArray& piece : process.readAllStandardOutput().split('\n')) {
        bool ok = false;
        const qint32 pid = piece.trimmed().toInt(&ok);
        if (ok)
            pids.append(pid);
    }
    return pids;
}

} // namespace

class TestSockDiagListenerScanner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void findsListener_data();
    void findsListener();
    void childAndGrandchildSharingTheSocketAreBothFound();
    void portWithoutListenerGivesEmpty();
    void connectedSocketsAreNotListeners();
    void listenerThatEndedIsGone();
    void callsFromManyThreadsAgree();

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
    SockDiagListenerScanner m_scanner;
};

void TestSockDiagListenerScanner::initTestCase()
{
    m_environment = std::make_unique<Test::TestEnvironment>();
    QVERIFY(QFile::exists(Test::program(QStringLiteral("wl-test-child"))));
    QVERIFY(SockDiagListenerScanner::listeningInodes(1).has_value());
}

void TestSockDiagListenerScanner::findsListener_data()
{
    QTest::addColumn<QString>("listenStep");
    QTest::newRow("IPv4") << u"listen:0"_qs;
    QTest::newRow("IPv6") << u"listen6:0"_qs;
}

void TestSockDiagListenerScanner::findsListener()
{
    QFETCH(QString, listenStep);
    auto child = Test::startTestChild({ listenStep, u"hold"_qs });
    QVERIFY(child->waitForStarted(Test::waitMs(10000)));
    const quint16 port = static_cast<quint16>(readNumber(*child, "listening "));
    QVERIFY(port != 0);
    const QList<qint32> pids = m_scanner.listeningPids(port);
    QCOMPARE(pids, QList<qint32> { static_cast<qint32>(child->processId()) });
    if (const auto fromLsof = lsofPids(port))
        QCOMPARE(sorted(pids), sorted(*fromLsof));
    child->kill();
    child->waitForFinished(Test::waitMs(10000));
}

void TestSockDiagListenerScanner::childAndGrandchildSharingTheSocketAreBothFound()
{
    // The grandchild inherits the listening sockets, as a forking server's
    // workers do; each process holds two listeners on the port (IPv4 and
    // IPv6) and is still listed once.
    const quint16 port = Test::freeTcpPort();
    QVERIFY(port != 0);
    const QString portText = QString::number(port);
    auto child = Test::startTestChild({ u"listen:"_qs + portText, u"listen6:"_qs + portText, u"grandchild"_qs, u"{"_qs,
        u"hold"_qs, u"}"_qs, u"hold"_qs });
    QVERIFY(child->waitForStarted(Test::waitMs(10000)));
    const qint32 grandchild = readNumber(*child, "grandchild ");
    QVERIFY(grandchild > 0);
    const QList<qint32> expected = sorted({ static_cast<qint32>(child->processId()), grandchild });
    const QList<qint32> pids = m_scanner.listeningPids(port);
    QCOMPARE(sorted(pids), expected);
    QCOMPARE(SockDiagListenerScanner::listeningInodes(port).value_or(QSet<quint64> {}).size(), 2);
    if (const auto fromLsof = lsofPids(port))
        QCOMPARE(sorted(*fromLsof), expected);
    child->kill();
    child->waitForFinished(Test::waitMs(10000));
    ::kill(grandchild, SIGKILL);
}

void TestSockDiagListenerScanner::portWithoutListenerGivesEmpty()
{
    const quint16 port = Test::freeTcpPort();
    QVERIFY(port != 0);
    QVERIFY(m_scanner.listeningPids(port).isEmpty());
    QVERIFY(m_scanner.listeningPids(0).isEmpty());
    if (const auto fromLsof = lsofPids(port))
        QVERIFY(fromLsof->isEmpty());
}

void TestSockDiagListenerScanner::connectedSocketsAreNotListeners()
{
    // A server's accepted connection shares its local port; only the listener counts.
    auto child = Test::startTestChild({ u"listen:0"_qs, u"hold"_qs });
    QVERIFY(child->waitForStarted(Test::waitMs(10000)));
    const quint16 port = static_cast<quint16>(readNumber(*child, "listening "));
    QVERIFY(port != 0);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(Test::waitMs(10000)));
    QCOMPARE(m_scanner.listeningPids(port), QList<qint32> { static_cast<qint32>(child->processId()) });
    QCOMPARE(m_scanner.listeningPids(client.localPort()), QList<qint32> {});
    child->kill();
    child->waitForFinished(Test::waitMs(10000));
}

void TestSockDiagListenerScanner::listenerThatEndedIsGone()
{
    auto child = Test::startTestChild({ u"listen6:0"_qs, u"hold"_qs });
    QVERIFY(child->waitForStarted(Test::waitMs(10000)));
    const quint16 port = static_cast<quint16>(readNumber(*child, "listening "));
    QVERIFY(port != 0);
    QCOMPARE(m_scanner.listeningPids(port).size(), 1);
    child->kill();
    QVERIFY(child->waitForFinished(Test::waitMs(10000)));
    QTRY_VERIFY_WITH_TIMEOUT(m_scanner.listeningPids(port).isEmpty(), Test::waitMs(10000));
}

void TestSockDiagListenerScanner::callsFromManyThreadsAgree()
{
    auto child = Test::startTestChild({ u"listen:0"_qs, u"hold"_qs });
    QVERIFY(child->waitForStarted(Test::waitMs(10000)));
    const quint16 port = static_cast<quint16>(readNumber(*child, "listening "));
    QVERIFY(port != 0);
    const QList<qint32> expected { static_cast<qint32>(child->processId()) };
    QList<int> rounds(32);
    const QList<QList<qint32>> results
        = QtConcurrent::blockingMapped(rounds, [this, port](int) { return m_scanner.listeningPids(port); });
    for (const QList<qint32>& result : results)
        QCOMPARE(result, expected);
    child->kill();
    child->waitForFinished(Test::waitMs(10000));
}

QTEST_GUILESS_MAIN(TestSockDiagListenerScanner)
#include "TestSockDiagListenerScanner.moc"
