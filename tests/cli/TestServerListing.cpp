#include "TestEnvironment.h"

#include "cli/ServerListing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

class TestServerListing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Wardlamp::Test::TestEnvironment>(); }
    void duration_data();
    void duration();
    void uptimeOnlyWhileRunning();
    void restartsAndPortsColumnsWhenKnown();
    void jsonRoundTrip();
    void rowFromJsonRefuses_data();
    void rowFromJsonRefuses();

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
};

void TestServerListing::duration_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "0s";
    QTest::newRow("skew") << qint64(-5) << "0s";
    QTest::newRow("seconds") << qint64(59) << "59s";
    QTest::newRow("minute") << qint64(60) << "1m 00s";
    QTest::newRow("minutes") << qint64(187) << "3m 07s";
    QTest::newRow("hour") << qint64(3600 + 5 * 60 + 9) << "1h 05m";
    QTest::newRow("days") << qint64(3 * 86400 + 4 * 3600 + 59) << "3d 4h";
}

void TestServerListing::duration()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(ServerListing::duration(seconds), text);
}

void TestServerListing::uptimeOnlyWhileRunning()
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'700'000'100'000, Qt::UTC);
    ServerRow server;
    server.startedAtMs = 1'700'000'000'000.0;
    server.status = ServerRow::Status::running;
    QCOMPARE(server.uptimeSeconds(now), std::optional<qint64>(100));
    server.status = ServerRow::Status::error;
    QCOMPARE(server.uptimeSeconds(now), std::nullopt);
    server.status = ServerRow::Status::running;
    server.startedAtMs.reset();
    QCOMPARE(server.uptimeSeconds(now), std::nullopt);
}

// wardlampd knows restarts and ports, the relay's snapshot does not: the
// columns appear only for a source that fills them, and line up.
void TestServerListing::restartsAndPortsColumnsWhenKnown()
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'700'000'100'000, Qt::UTC);
    ServerListing listing;
    listing.macName = u"box"_s;
    ServerRow api;
    api.id = QUuid::fromString(u"1b4e28ba-2fa1-11d2-883f-0016d3cca427"_s);
    api.name = u"api"_s;
    api.status = ServerRow::Status::running;
    api.pid = 10;
    api.startedAtMs = 1'700'000'099'000.0;
    api.restarts = 2;
    api.ports = QList<quint16> { 3000, 9229 };
    ServerRow web;
    web.id = QUuid::fromString(u"2b4e28ba-2fa1-11d2-883f-0016d3cca427"_s);
    web.name = u"web"_s;
    web.restarts = 0;
    web.ports = QList<quint16> {};
    listing.servers = { api, web };

    const QStringList lines = listing.table(now).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(1).simplified(), u"NAME STATUS PID UPTIME RESTARTS PORTS ID"_s);
    QCOMPARE(lines.at(2).simplified(), u"api running 10 1s 2 3000,9229 1B4E28BA-2FA1-11D2-883F-0016D3CCA427"_s);
    QCOMPARE(lines.at(3).simplified(), u"web stopped - - 0 - 2B4E28BA-2FA1-11D2-883F-0016D3CCA427"_s);
    QCOMPARE(lines.at(2).indexOf(u"3000"_s), lines.at(1).indexOf(u"PORTS"_s));

    listing.servers[0].restarts.reset();
    listing.servers[1].restarts.reset();
    listing.servers[0].ports.reset();
    listing.servers[1].ports.reset();
    QVERIFY(!listing.table(now).contains(u"RESTARTS"_s));
    QVERIFY(!listing.table(now).contains(u"PORTS"_s));
}

void TestServerListing::jsonRoundTrip()
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'700'000'100'000, Qt::UTC);
    ServerListing listing;
    listing.macName = u"box"_s;
    listing.generatedAtMs = 1'700'000'100'000.0;
    ServerRow api;
    api.id = QUuid::createUuid();
    api.name = u"api \"quoted\""_s;
    api.command = u"bun server.js"_s;
    api.directory = u"/srv/api"_s;
    api.tunnelHostname = u"api.example.net"_s;
    api.status = ServerRow::Status::error;
    api.hasError = true;
    api.pid = 77;
    api.startedAtMs = 1'700'000'000'000.5;
    api.lastExitCode = -3;
    api.restarts = 4;
    api.ports = QList<quint16> { 8080 };
    ServerRow bare;
    bare.id = QUuid::createUuid();
    bare.name = u"bare"_s;
    listing.servers = { api, bare };

    const QByteArray json = listing.json(now);
    QVERIFY(!json.contains('\n'));
    const auto back = ServerListing::fromJson(json);
    QVERIFY(back);
    QCOMPARE(back->macName, listing.macName);
    QCOMPARE(back->generatedAtMs, listing.generatedAtMs);
    QCOMPARE(back->servers, listing.servers);
    const QJsonObject second = QJsonDocument::fromJson(json).object().value(u"servers"_s).toArray().at(1).toObject();
    for (const char* key : { "pid", "restarts", "ports", "directory", "startedAt", "uptimeSeconds" })
        QVERIFY2(!second.contains(QLatin1StringView(key)), key);
}

void TestServerListing::rowFromJsonRefuses_data()
{
    QTest::addColumn<QByteArray>("json");
    const QByteArray good
        = R"({"id":"1B4E28BA-2FA1-11D2-883F-0016D3CCA427","name":"a","command":"c","status":"running","hasError":false)";
    QTest::newRow("no id") << QByteArray(R"({"name":"a","command":"c","status":"running","hasError":false})");
    QTest::newRow("bad id") << QByteArray(
        R"({"id":"nope","name":"a","command":"c","status":"running","hasError":false})");
    QTest::newRow("unknown status") << QByteArray(good).replace("running", "sleeping") + "}";
    QTest::newRow("pid text") << good + R"(,"pid":"12"})";
    QTest::newRow("pid fraction") << good + R"(,"pid":1.5})";
    QTest::newRow("pid too large") << good + R"(,"pid":4294967296})";
    QTest::newRow("port out of range") << good + R"(,"ports":[70000]})";
    QTest::newRow("ports not a list") << good + R"(,"ports":3000})";
    QTest::newRow("directory number") << good + R"(,"directory":5})";
}

void TestServerListing::rowFromJsonRefuses()
{
    QFETCH(QByteArray, json);
    const QJsonDocument document = QJsonDocument::fromJson(json);
    QVERIFY2(document.isObject(), json.constData());
    QCOMPARE(ServerRow::fromJson(document.object()), std::nullopt);
}

QTEST_GUILESS_MAIN(TestServerListing)
#include "TestServerListing.moc"
