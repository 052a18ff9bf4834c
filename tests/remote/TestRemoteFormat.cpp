#include "TestEnvironment.h"

#include "remote/RemoteFormat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimeZone>

using namespace Wardlamp;

class TestRemoteFormat : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Wardlamp::Test::TestEnvironment>(); }
    void tableAndJson();
    void logLineDropsControlSequences();

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
};

void TestRemoteFormat::tableAndJson()
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'700'000'100'000, Qt::UTC);
    Snapshot snapshot;
    snapshot.macName = QStringLiteral("desk");
    snapshot.generatedAt = WireTime { 1'700'000'099'000.0 };
    WireServer api;
    api.id = QUuid::fromString(QLatin1String("1b4e28ba-2fa1-11d2-883f-0016d3cca427"));
    api.name = QStringLiteral("api");
    api.command = QStringLiteral("bun server.js");
    api.status = WireStatus::running;
    api.hasError = true;
    api.pid = 4242;
    api.startedAt = WireTime { 1'700'000'000'000.0 };
    WireServer web;
    web.id = QUuid::fromString(QLatin1String("2b4e28ba-2fa1-11d2-883f-0016d3cca427"));
    web.name = QStringLiteral("web");
    web.command = QStringLiteral("npm start");
    web.lastExitCode = 1;
    snapshot.servers = { api, web };

    const QStringList lines = RemoteFormat::table(snapshot, now).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0), QStringLiteral("desk: 2 server(s)"));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("NAME")));
    QCOMPARE(lines.at(2).simplified(),
        QStringLiteral("api running (errors) 4242 1m 40s 1B4E28BA-2FA1-11D2-883F-0016D3CCA427"));
    QCOMPARE(lines.at(3).simplified(), QStringLiteral("web stopped - - 2B4E28BA-2FA1-11D2-883F-0016D3CCA427"));
    // Columns line up.
    QCOMPARE(lines.at(2).indexOf(QStringLiteral("running")), lines.at(1).indexOf(QStringLiteral("STATUS")));

    const QJsonObject json = QJsonDocument::fromJson(RemoteFormat::json(snapshot, now)).object();
    QCOMPARE(json.value(QStringLiteral("macName")).toString(), QStringLiteral("desk"));
    const QJsonArray servers = json.value(QStringLiteral("servers")).toArray();
    QCOMPARE(servers.size(), 2);
    const QJsonObject first = servers.at(0).toObject();
    QCOMPARE(first.value(QStringLiteral("id")).toString(), QStringLiteral("1B4E28BA-2FA1-11D2-883F-0016D3CCA427"));
    QCOMPARE(first.value(QStringLiteral("pid")).toInt(), 4242);
    QCOMPARE(first.value(QStringLiteral("uptimeSeconds")).toInt(), 100);
    QCOMPARE(first.value(QStringLiteral("hasError")).toBool(), true);
    const QJsonObject second = servers.at(1).toObject();
    QVERIFY(!second.contains(QStringLiteral("pid")));
    QVERIFY(!second.contains(QStringLiteral("uptimeSeconds")));
    QCOMPARE(second.value(QStringLiteral("lastExitCode")).toInt(), 1);
    QCOMPARE(second.value(QStringLiteral("status")).toString(), QStringLiteral("stopped"));
}

// A line from the relay cannot drive the terminal wardlamp-remote prints on.
void TestRemoteFormat::logLineDropsControlSequences()
{
    WireLogLine line;
    line.date = WireTime { 1'700'000'000'000.0 };
    line.text = QStringLiteral("\x1b[2J\x1b[31mboom\x1b[0m\rdone");
    line.isError = true;
    const QString text = RemoteFormat::logLine(line);
    QVERIFY2(text.endsWith(QStringLiteral("! boomdone")), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestRemoteFormat)
#include "TestRemoteFormat.moc"
