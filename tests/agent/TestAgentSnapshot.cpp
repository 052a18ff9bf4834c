#include "agent/AgentSnapshot.h"
#include "agent/StatusAnnouncer.h"
#include "supervision/LogLine.h"
#include "supervision/ServerConfig.h"
#include "supervision/ServerRuntimeState.h"

#include <QTest>

#include <functional>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::function<void(Wardlamp::Snapshot&)>)

namespace {

Snapshot sample()
{
    ServerConfig config;
    config.id = QUuid::fromString(u"6f1c2d3e-0000-4000-8000-000000000001"_s);
    config.name = u"api"_s;
    config.command = u"bun server.js"_s;
    config.directory = u"/srv/api"_s;
    config.autostart = true;
    ServerRuntimeState state;
    state.status = ServerStatus::running;
    state.pid = 4242;
    state.startedAt = QDateTime::fromMSecsSinceEpoch(1700000000000, Qt::UTC);
    return AgentSnapshot::build(
        u"Desk"_s, { config }, { { config.id, state } }, QDateTime::fromMSecsSinceEpoch(1700000001000, Qt::UTC));
}

using Edit = std::function<void(Snapshot&)>;

} // namespace

class TestAgentSnapshot : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mapping()
    {
        ServerConfig never;
        never.id = QUuid::createUuid();
        never.name = u"idle"_s;
        never.command = u"true"_s;
        never.tunnelHostname = u"idle.example.org"_s;
        const Snapshot snapshot = AgentSnapshot::build(u"Desk"_s, { never }, {}, QDateTime::currentDateTimeUtc());
        QCOMPARE(snapshot.servers.size(), 1);
        const WireServer& wire = snapshot.servers[0];
        QCOMPARE(wire.status, WireStatus::stopped);
        QVERIFY(!wire.pid);
        QVERIFY(!wire.hasError);
        QVERIFY(!wire.startedAt);
        QVERIFY(!wire.directory);
        QCOMPARE(wire.tunnelHostname, std::optional<QString>(u"idle.example.org"_s));
        QCOMPARE(sample().servers[0].startedAt->msSinceEpoch, 1700000000000.0);
    }

    // The log keeps a server's colours; the wire carries the text alone.
    void wireLineHasNoEscapeSequences()
    {
        LogLine line;
        line.id = QUuid::createUuid();
        line.date = QDateTime::fromMSecsSinceEpoch(1700000000000, Qt::UTC);
        line.text = u"\x1b[31mError\x1b[39m: boom \x1b]8;;http://x\x07link\x1b]8;;\x07 \u00e9"_s;
        line.isError = true;
        const WireLogLine wire = AgentSnapshot::wireLine(line);
        QCOMPARE(wire.text, u"Error: boom link \u00e9"_s);
        QCOMPARE(wire.id, line.id);
        QVERIFY(wire.isError);
        line.text = u"plain \t text"_s;
        QCOMPARE(AgentSnapshot::wireLine(line).text, line.text);
    }

    // The hash covers exactly the name and, per server, id, name, command,
    // directory, tunnel host name, status, error flag and pid.
    void hashCoversExactlyItsFields_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<bool>("changes");
        QTest::newRow("macName") << Edit([](Snapshot& s) { s.macName = u"Other"_s; }) << true;
        QTest::newRow("id") << Edit([](Snapshot& s) { s.servers[0].id = QUuid::createUuid(); }) << true;
        QTest::newRow("name") << Edit([](Snapshot& s) { s.servers[0].name = u"web"_s; }) << true;
        QTest::newRow("command") << Edit([](Snapshot& s) { s.servers[0].command += u" --watch"_s; }) << true;
        QTest::newRow("directory absent") << Edit([](Snapshot& s) { s.servers[0].directory.reset(); }) << true;
        QTest::newRow("directory empty") << Edit([](Snapshot& s) { s.servers[0].directory = QString(); }) << true;
        QTest::newRow("tunnel") << Edit([](Snapshot& s) { s.servers[0].tunnelHostname = u"x"_s; }) << true;
        QTest::newRow("status") << Edit([](Snapshot& s) { s.servers[0].status = WireStatus::error; }) << true;
        QTest::newRow("hasError") << Edit([](Snapshot& s) { s.servers[0].hasError = true; }) << true;
        QTest::newRow("pid absent") << Edit([](Snapshot& s) { s.servers[0].pid.reset(); }) << true;
        QTest::newRow("pid") << Edit([](Snapshot& s) { s.servers[0].pid = 4243; }) << true;
        QTest::newRow("a second server") << Edit([](Snapshot& s) { s.servers.append(s.servers[0]); }) << true;
        QTest::newRow("name and command shifted") << Edit([](Snapshot& s) {
            s.servers[0].name = u"apibun"_s;
            s.servers[0].command = u" server.js"_s;
        }) << true;
        QTest::newRow("startedAt") << Edit([](Snapshot& s) { s.servers[0].startedAt = WireTime { 5 }; }) << false;
        QTest::newRow("lastExitCode") << Edit([](Snapshot& s) { s.servers[0].lastExitCode = 3; }) << false;
        QTest::newRow("generatedAt") << Edit([](Snapshot& s) { s.generatedAt = WireTime { 9 }; }) << false;
    }
    void hashCoversExactlyItsFields()
    {
        QFETCH(Edit, edit);
        QFETCH(bool, changes);
        Snapshot edited = sample();
        edit(edited);
        QCOMPARE(AgentSnapshot::hash(edited) != AgentSnapshot::hash(sample()), changes);
    }

    // Which status changes are announced, with which kind and text.
    void announcements_data()
    {
        QTest::addColumn<QList<int>>("statuses"); // per push: WireStatus, or -1 for "not in the list"
        QTest::addColumn<bool>("pidAtLast");
        QTest::addColumn<QString>("expected"); // "kind:text" of the last push, or empty
        const int stopped = int(WireStatus::stopped);
        const int running = int(WireStatus::running);
        const int error = int(WireStatus::error);
        QTest::newRow("first seen") << QList<int> { running } << true << QString();
        QTest::newRow("start") << QList<int> { stopped, running } << true << u"restart:api: stopped → running"_s;
        QTest::newRow("error line") << QList<int> { running, error } << true << u"error:api: running → error"_s;
        QTest::newRow("crash") << QList<int> { running, error } << false << u"crash:api: running → error"_s;
        QTest::newRow("stop") << QList<int> { running, stopped } << false << QString();
        QTest::newRow("unchanged") << QList<int> { running, running } << true << QString();
        QTest::newRow("recovered") << QList<int> { error, running } << true << u"restart:api: error → running"_s;
        QTest::newRow("removed then re-added") << QList<int> { stopped, -1, running } << true << QString();
    }
    void announcements()
    {
        QFETCH(QList<int>, statuses);
        QFETCH(bool, pidAtLast);
        QFETCH(QString, expected);
        StatusAnnouncer announcer;
        QList<StatusAnnouncer::Announcement> last;
        for (int i = 0; i < statuses.size(); ++i) {
            Snapshot snapshot = sample();
            if (statuses[i] < 0) {
                snapshot.servers.clear();
            } else {
                snapshot.servers[0].status = WireStatus(statuses[i]);
                if (i == statuses.size() - 1 && !pidAtLast)
                    snapshot.servers[0].pid.reset();
            }
            last = announcer.update(snapshot);
            if (statuses[i] < 0)
                QVERIFY(announcer.lastStatuses().isEmpty());
        }
        QString got;
        if (!last.isEmpty())
            got = QString(rawValue(last[0].kind)) + u':' + last[0].text;
        QCOMPARE(got, expected);
        QVERIFY(last.size() <= 1);
    }
};

QTEST_GUILESS_MAIN(TestAgentSnapshot)
#include "TestAgentSnapshot.moc"
