#include "TestEnvironment.h"

#include "control/ServerListEdits.h"

#include <QJsonDocument>
#include <QTest>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(Wardlamp::ControlErrorCode)

namespace {

ServerConfig server(const QString& name)
{
    ServerConfig config;
    config.id = QUuid::createUuid();
    config.name = name;
    config.command = u"run "_s + name;
    return config;
}

QJsonObject object(const char* json)
{
    return QJsonDocument::fromJson(json).object();
}

// "/exists" is the only folder there is.
bool onlyExists(const QString& directory)
{
    return directory == u"/exists"_s;
}

} // namespace

// The rules of changing a server list from a front door, by table.
class TestServerListEdits : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_env = std::make_unique<Wardlamp::Test::TestEnvironment>();
        m_list = { server(u"api"_s), server(u"Worker"_s), server(u"worker"_s) };
    }

    void add_data()
    {
        QTest::addColumn<QByteArray>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<ControlErrorCode>("code");
        QTest::addColumn<QString>("message"); // part of the error, or of the warning
        const auto none = ControlErrorCode::failed;
        QTest::newRow("plain") << QByteArray(R"({"name":"web","command":"npm run dev"})") << true << none << QString();
        QTest::newRow("every field") << QByteArray(
            R"({"name":"web","command":"x","directory":"/exists","autostart":true,)"
            R"("restartOnCrash":true,"errorAlertEnabled":true,"tunnelHostname":"w.example.net"})")
                                     << true << none << QString();
        QTest::newRow("directory that does not exist")
            << QByteArray(R"({"name":"web","command":"x","directory":"/nope"})") << true << none
            << u"the directory /nope does not exist"_s;
        QTest::newRow("empty command") << QByteArray(R"({"name":"web","command":" \t "})") << false
                                       << ControlErrorCode::badArguments << u"the command is empty"_s;
        QTest::newRow("no command") << QByteArray(R"({"name":"web"})") << false << ControlErrorCode::badArguments
                                    << u"needs a command"_s;
        QTest::newRow("no name") << QByteArray(R"({"command":"x"})") << false << ControlErrorCode::badArguments
                                 << u"needs a name"_s;
        QTest::newRow("blank name") << QByteArray(R"({"name":"  ","command":"x"})") << false
                                    << ControlErrorCode::badArguments << u"needs a name"_s;
        QTest::newRow("line break in the name") << QByteArray(R"({"name":"a\nb","command":"x"})") << false
                                                << ControlErrorCode::badArguments << u"control characters"_s;
        QTest::newRow("existing name") << QByteArray(R"({"name":"api","command":"x"})") << false
                                       << ControlErrorCode::conflict << u"a server named \"api\" already exists"_s;
        QTest::newRow("existing name, other case") << QByteArray(R"({"name":"API","command":"x"})") << false
                                                   << ControlErrorCode::conflict << u"named \"api\""_s;
        QTest::newRow("flag of the wrong type") << QByteArray(R"({"name":"web","command":"x","autostart":"yes"})")
                                                << false << ControlErrorCode::badArguments << u"true or false"_s;
    }

    void add()
    {
        QFETCH(QByteArray, args);
        QFETCH(bool, ok);
        QFETCH(ControlErrorCode, code);
        QFETCH(QString, message);
        const auto outcome = ServerListEdits::add(m_list, object(args), onlyExists);
        QCOMPARE(outcome.hasValue(), ok);
        if (!ok) {
            QCOMPARE(outcome.error().code, code);
            QVERIFY2(outcome.error().message.contains(message), qPrintable(outcome.error().message));
            return;
        }
        QCOMPARE(outcome->servers.size(), m_list.size() + 1);
        QCOMPARE(outcome->servers.mid(0, m_list.size()), m_list);
        QCOMPARE(outcome->servers.last(), outcome->server);
        QVERIFY(!outcome->server.id.isNull());
        for (const ServerConfig& other : m_list)
            QVERIFY(other.id != outcome->server.id);
        QCOMPARE(outcome->warnings.isEmpty(), message.isEmpty());
        if (!message.isEmpty())
            QVERIFY2(outcome->warnings.first().contains(message), qPrintable(outcome->warnings.first()));
        const QJsonObject given = object(args);
        QCOMPARE(outcome->server.autostart, given.value(u"autostart"_s).toBool());
        QCOMPARE(outcome->server.restartOnCrash, given.value(u"restartOnCrash"_s).toBool());
        QCOMPARE(outcome->server.tunnelHostname.has_value(), given.contains(u"tunnelHostname"_s));
    }

    void edit_data()
    {
        QTest::addColumn<QByteArray>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<ControlErrorCode>("code");
        const auto none = ControlErrorCode::failed;
        QTest::newRow("rename") << QByteArray(R"({"server":"api","name":"gateway"})") << true << none;
        QTest::newRow("own name in another case") << QByteArray(R"({"server":"api","name":"API"})") << true << none;
        QTest::newRow("rename onto another")
            << QByteArray(R"({"server":"api","name":"WORKER"})") << false << ControlErrorCode::conflict;
        QTest::newRow("new command") << QByteArray(R"({"server":"api","command":"bun x.js"})") << true << none;
        QTest::newRow("blank command") << QByteArray(R"({"server":"api","command":""})") << false
                                       << ControlErrorCode::badArguments;
        QTest::newRow("no directory") << QByteArray(R"({"server":"api","directory":null})") << true << none;
        QTest::newRow("unknown server") << QByteArray(R"({"server":"db","name":"x"})") << false
                                        << ControlErrorCode::notFound;
        QTest::newRow("ambiguous name") << QByteArray(R"({"server":"WORKER","name":"x"})") << false
                                        << ControlErrorCode::ambiguous;
    }

    void edit()
    {
        QFETCH(QByteArray, args);
        QFETCH(bool, ok);
        QFETCH(ControlErrorCode, code);
        const auto outcome = ServerListEdits::edit(m_list, object(args), onlyExists);
        QCOMPARE(outcome.hasValue(), ok);
        if (!ok) {
            QCOMPARE(outcome.error().code, code);
            return;
        }
        QCOMPARE(outcome->servers.size(), m_list.size());
        QCOMPARE(outcome->servers.at(0), outcome->server);
        QCOMPARE(outcome->server.id, m_list.at(0).id);
        QCOMPARE(outcome->servers.mid(1), m_list.mid(1));
    }

    void removeByIdOrName()
    {
        const auto byName = ServerListEdits::remove(m_list, object(R"({"server":"api"})"));
        QVERIFY(byName);
        QCOMPARE(byName->servers, m_list.mid(1));
        const QJsonObject byIdArgs { { u"server"_s, uuidText(m_list.at(2).id).toLower() } };
        const auto byId = ServerListEdits::remove(m_list, byIdArgs);
        QVERIFY(byId);
        QCOMPARE(byId->server, m_list.at(2));
        QCOMPARE(ServerListEdits::remove(m_list, object(R"({"server":" worker "})"))->server, m_list.at(2));
        QCOMPARE(
            ServerListEdits::remove(m_list, object(R"({"server":"db"})")).error().code, ControlErrorCode::notFound);
    }

    void import_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("message"); // part of the error
        QTest::addColumn<int>("added");
        QTest::addColumn<int>("replaced");
        QTest::addColumn<int>("removed");

        const ServerConfig fresh = server(u"fresh"_s);
        ServerConfig changedApi = m_list.at(0);
        changedApi.command = u"new command"_s;
        QTest::newRow("new server") << ServerConfig::encodeList({ fresh }) << false << true << QString() << 1 << 0 << 0;
        QTest::newRow("known id replaces")
            << ServerConfig::encodeList({ changedApi, fresh }) << false << true << QString() << 1 << 1 << 0;
        QTest::newRow("replace the list")
            << ServerConfig::encodeList({ changedApi }) << true << true << QString() << 0 << 1 << 2;
        QByteArray bad = ServerConfig::encodeList({ fresh });
        bad.chop(1);
        bad += R"(,{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","name":"broken","command":"x"}])";
        QTest::newRow("one bad entry")
            << bad << false << false
            << u"record 2: \"autostart\" is missing or not a boolean (the server named \"broken\")"_s << 0 << 0 << 0;
        ServerConfig twin = server(u"twin"_s);
        twin.id = fresh.id;
        QTest::newRow("two of one id") << ServerConfig::encodeList({ fresh, twin }) << false << false
                                       << u"records 1 (\"fresh\") and 2 (\"twin\") have the same id"_s << 0 << 0 << 0;
        QTest::newRow("a name taken") << ServerConfig::encodeList({ server(u"Api"_s) }) << false << false
                                      << u"two servers would be named \"Api\""_s << 0 << 0 << 0;
        QTest::newRow("not json") << QByteArray("servers: []") << false << false << u"nothing was imported"_s << 0 << 0
                                  << 0;
    }

    void import()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, replace);
        QFETCH(bool, ok);
        QFETCH(QString, message);
        QFETCH(int, added);
        QFETCH(int, replaced);
        QFETCH(int, removed);
        const auto outcome = ServerListEdits::import(m_list, json, replace);
        QCOMPARE(outcome.hasValue(), ok);
        if (!ok) {
            QVERIFY2(outcome.error().message.contains(message), qPrintable(outcome.error().message));
            QVERIFY(outcome.error().message.startsWith(u"nothing was imported"_s));
            return;
        }
        QCOMPARE(outcome->added.size(), added);
        QCOMPARE(outcome->replaced.size(), replaced);
        QCOMPARE(outcome->removed.size(), removed);
        QCOMPARE(ServerConfig::duplicateIds(outcome->servers), std::nullopt);
    }

    void expandHome()
    {
        QCOMPARE(ServerListEdits::expandHome(u"~"_s, u"/home/me"_s), u"/home/me"_s);
        QCOMPARE(ServerListEdits::expandHome(u"~/proj"_s, u"/home/me"_s), u"/home/me/proj"_s);
        QCOMPARE(ServerListEdits::expandHome(u"~other/proj"_s, u"/home/me"_s), u"~other/proj"_s);
        QCOMPARE(ServerListEdits::expandHome(u"/srv/~"_s, u"/home/me"_s), u"/srv/~"_s);
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
    QList<ServerConfig> m_list;
};

QTEST_GUILESS_MAIN(TestServerListEdits)
#include "TestServerListEdits.moc"
