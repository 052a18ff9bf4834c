#include "supervision/ServerStore.h"

#include "StandardErrorCapture.h"
#include "TestEnvironment.h"
#include "TestServers.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;
namespace Test = Wardlamp::Test;
using Wardlamp::ServerConfig;
using Wardlamp::ServerStore;

namespace {

QProcessEnvironment environmentWith(const QString& seed)
{
    QProcessEnvironment environment;
    environment.insert(u"WL_SEED_SERVERS"_s, seed);
    return environment;
}

// Every signal of the store as text, in the order they came, ids by name.
class SignalLog {
public:
    SignalLog(ServerStore& store, const QHash<QUuid, QString>& names)
    {
        const auto named = [names](const QUuid& id) { return names.value(id, u"?"_s); };
        QObject::connect(&store, &ServerStore::removed,
            [this, named](const QUuid& id) { entries.append(u"removed "_s + named(id)); });
        QObject::connect(&store, &ServerStore::reordered, [this] { entries.append(u"reordered"_s); });
        QObject::connect(&store, &ServerStore::updated,
            [this, named](const QUuid& id) { entries.append(u"updated "_s + named(id)); });
        QObject::connect(
            &store, &ServerStore::added, [this, named](const QUuid& id) { entries.append(u"added "_s + named(id)); });
        QObject::connect(&store, &ServerStore::serversChanged, [this] { entries.append(u"changed"_s); });
    }
    QStringList entries;
};

QList<QUuid> idsOf(const QList<ServerConfig>& servers)
{
    QList<QUuid> ids;
    for (const ServerConfig& server : servers)
        ids.append(server.id);
    return ids;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

} // namespace

class TestServerStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Wardlamp::Test::TestEnvironment>(); }

    void init()
    {
        // A fresh settings file per test function.
        m_path = m_environment->path(u"settings-%1.conf"_s.arg(++m_counter));
        m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
    }

    void cleanup() { m_settings.reset(); }

    void startsEmptyAndWritesThrough()
    {
        ServerStore store(*m_settings, QProcessEnvironment());
        QVERIFY(!store.isEphemeral());
        QVERIFY(store.servers().isEmpty());
        QVERIFY(!QFile::exists(m_path)); // loading writes nothing

        QSignalSpy changed(&store, &ServerStore::serversChanged);
        const ServerConfig a = Test::server(u"a"_s);
        const ServerConfig b = Test::server(u"b"_s);
        store.add(a);
        store.add(b);
        QCOMPARE(changed.size(), 2);

        // Another reader of the same file sees the change at once (no pending sync).
        QSettings other(m_path, QSettings::IniFormat);
        const auto persisted = ServerConfig::decodeList(other.value(ServerStore::settingsKey).toByteArray());
        QVERIFY(persisted);
        QCOMPARE(*persisted, (QList<ServerConfig> { a, b }));

        // And a new store on it loads the same list.
        ServerStore reloaded(other, QProcessEnvironment());
        QCOMPARE(reloaded.servers(), (QList<ServerConfig> { a, b }));
    }

    void removeAndUpdateKeepOrder()
    {
        ServerStore store(*m_settings, QProcessEnvironment());
        const ServerConfig a = Test::server(u"a"_s);
        ServerConfig b = Test::server(u"b"_s);
        const ServerConfig c = Test::server(u"c"_s);
        store.setServers({ a, b, c, b });
        QSignalSpy changed(&store, &ServerStore::serversChanged);

        const ServerConfig oldB = b;
        b.name = u"renamed"_s;
        b.directory = u"/srv"_s;
        store.update(b); // the first record with the id, in place
        QCOMPARE(store.servers(), (QList<ServerConfig> { a, b, c, oldB }));
        QCOMPARE(changed.size(), 1);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"update of a server that is not in the list"_s));
        store.update(Test::server(u"stranger"_s)); // unknown id: nothing
        QCOMPARE(changed.size(), 1);
        QCOMPARE(store.servers().size(), 4);

        store.remove(b.id); // both records carrying the id go
        QCOMPARE(store.servers(), (QList<ServerConfig> { a, c }));
        QCOMPARE(changed.size(), 2);

        store.remove(QUuid::createUuid()); // unknown id: list unchanged, no signal
        QCOMPARE(store.servers(), (QList<ServerConfig> { a, c }));
        QCOMPARE(changed.size(), 2);

        QSettings other(m_path, QSettings::IniFormat);
        QCOMPARE(ServerConfig::decodeList(other.value(ServerStore::settingsKey).toByteArray()).value(),
            (QList<ServerConfig> { a, c }));
    }

    void perServerSignals_data()
    {
        // Servers a, b, c, d; "b2" is b's id with another name. `before` and
        // `after` are lists of those names; the change is setServers(after)
        // unless an operation is named.
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QStringList>("signals");

        const QStringList abc { u"a"_s, u"b"_s, u"c"_s };
        QTest::newRow("add") << abc << u"add d"_s << QStringList { u"a"_s, u"b"_s, u"c"_s, u"d"_s }
                             << QStringList { u"added d"_s, u"changed"_s };
        QTest::newRow("remove") << abc << u"remove b"_s << QStringList { u"a"_s, u"c"_s }
                                << QStringList { u"removed b"_s, u"changed"_s };
        QTest::newRow("remove of an id listed twice")
            << QStringList { u"a"_s, u"b"_s, u"c"_s, u"b2"_s } << u"remove b"_s << QStringList { u"a"_s, u"c"_s }
            << QStringList { u"removed b"_s, u"changed"_s };
        QTest::newRow("remove of an unknown id") << abc << u"remove d"_s << abc << QStringList {};
        QTest::newRow("update") << abc << u"update b2"_s << QStringList { u"a"_s, u"b2"_s, u"c"_s }
                                << QStringList { u"updated b"_s, u"changed"_s };
        QTest::newRow("update that changes nothing") << abc << u"update b"_s << abc << QStringList {};
        QTest::newRow("update of an unknown id") << abc << u"update d"_s << abc << QStringList {};
        QTest::newRow("add of an id already listed")
            << abc << u"add b2"_s << QStringList { u"a"_s, u"b"_s, u"c"_s, u"b2"_s }
            << QStringList { u"updated b"_s, u"changed"_s };
        QTest::newRow("replace: every kind at once")
            << QStringList { u"a"_s, u"b"_s, u"c"_s } << QString() << QStringList { u"d"_s, u"b2"_s, u"a"_s }
            << QStringList { u"removed c"_s, u"reordered"_s, u"updated b"_s, u"added d"_s, u"changed"_s };
        QTest::newRow("replace: new ones in their order")
            << QStringList { u"b"_s } << QString() << QStringList { u"d"_s, u"b"_s, u"a"_s, u"c"_s }
            << QStringList { u"added d"_s, u"added a"_s, u"added c"_s, u"changed"_s };
        QTest::newRow("replace: order only") << abc << QString() << QStringList { u"c"_s, u"a"_s, u"b"_s }
                                             << QStringList { u"reordered"_s, u"changed"_s };
        QTest::newRow("replace: removals keep the order of the rest")
            << QStringList { u"a"_s, u"b"_s, u"c"_s, u"d"_s } << QString() << QStringList { u"b"_s, u"d"_s }
            << QStringList { u"removed a"_s, u"removed c"_s, u"changed"_s };
        QTest::newRow("replace: same list") << abc << QString() << abc << QStringList {};
        QTest::newRow("replace: empty") << abc << QString() << QStringList {}
                                        << QStringList { u"removed a"_s, u"removed b"_s, u"removed c"_s, u"changed"_s };
    }

    // Per-server signals name each id once, in the documented order, and
    // nothing at all when the list stays as it was.
    void perServerSignals()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, operation);
        QFETCH(QStringList, after);
        QFETCH(QStringList, signals);

        QHash<QString, ServerConfig> servers;
        for (const QString& name : { u"a"_s, u"b"_s, u"c"_s, u"d"_s })
            servers.insert(name, Test::server(name));
        servers.insert(u"b2"_s, servers.value(u"b"_s));
        servers[u"b2"_s].command = u"run b, edited"_s;
        QHash<QUuid, QString> names;
        for (const QString& name : { u"a"_s, u"b"_s, u"c"_s, u"d"_s })
            names.insert(servers.value(name).id, name);
        const auto listOf = [&](const QStringList& list) {
            QList<ServerConfig> result;
            for (const QString& name : list)
                result.append(servers.value(name));
            return result;
        };

        ServerStore store(*m_settings, QProcessEnvironment());
        store.setServers(listOf(before));
        SignalLog log(store, names);
        // Every signal comes once the list shows the whole change.
        int seenStale = 0;
        const auto check = [&] { seenStale += store.servers() != listOf(after); };
        connect(&store, &ServerStore::removed, this, check);
        connect(&store, &ServerStore::reordered, this, check);
        connect(&store, &ServerStore::updated, this, check);
        connect(&store, &ServerStore::added, this, check);
        connect(&store, &ServerStore::serversChanged, this, check);

        const QString verb = operation.section(u' ', 0, 0);
        const ServerConfig operand = servers.value(operation.section(u' ', 1, 1));
        if (verb == u"add"_s)
            store.add(operand);
        else if (verb == u"remove"_s)
            store.remove(operand.id);
        else if (verb == u"update"_s) {
            if (operation == u"update d"_s)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"update of a server that is not in the list"_s));
            store.update(operand);
        } else
            store.setServers(listOf(after));

        QCOMPARE(store.servers(), listOf(after));
        QCOMPARE(log.entries, signals);
        QCOMPARE(seenStale, 0);
        // Written through either way.
        QSettings other(m_path, QSettings::IniFormat);
        QCOMPARE(ServerConfig::decodeList(other.value(ServerStore::settingsKey).toByteArray()).value(), listOf(after));
    }

    // A list model keeps a row per id and applies each signal as it comes; by
    // the order the store emits them every index it needs is valid, and after
    // each change its rows equal the store's list. Random changes of every kind.
    void idMirrorFollowsEveryChange()
    {
        ServerStore store(*m_settings, QProcessEnvironment());
        QList<QUuid> rows;
        bool indexOutOfRange = false;
        int changes = 0;
        connect(&store, &ServerStore::removed, this, [&](const QUuid& id) {
            const qsizetype row = rows.indexOf(id);
            indexOutOfRange |= row < 0;
            if (row >= 0)
                rows.removeAt(row);
        });
        connect(&store, &ServerStore::reordered, this, [&] {
            QList<QUuid> kept;
            for (const QUuid& id : idsOf(store.servers())) {
                if (rows.contains(id))
                    kept.append(id);
            }
            indexOutOfRange |= kept.size() != rows.size();
            rows = kept;
        });
        connect(&store, &ServerStore::updated, this, [&](const QUuid& id) { indexOutOfRange |= !rows.contains(id); });
        connect(&store, &ServerStore::added, this, [&](const QUuid& id) {
            const qsizetype row = idsOf(store.servers()).indexOf(id);
            indexOutOfRange |= row < 0 || row > rows.size() || rows.contains(id);
            if (row >= 0 && row <= rows.size())
                rows.insert(row, id);
        });
        connect(&store, &ServerStore::serversChanged, this, [&] { ++changes; });

        QRandomGenerator random(20261211);
        QList<ServerConfig> pool;
        for (int i = 0; i < 12; ++i)
            pool.append(Test::server(u"s%1"_s.arg(i)));
        for (int round = 0; round < 400; ++round) {
            QList<ServerConfig> list = store.servers();
            switch (random.bounded(4)) {
            case 0: {
                const ServerConfig& candidate = pool.at(random.bounded(pool.size()));
                if (!idsOf(list).contains(candidate.id))
                    store.add(candidate);
                break;
            }
            case 1:
                if (!list.isEmpty())
                    store.remove(list.at(random.bounded(list.size())).id);
                break;
            case 2:
                if (!list.isEmpty()) {
                    ServerConfig edited = list.at(random.bounded(list.size()));
                    edited.name += u'*';
                    store.update(edited);
                }
                break;
            default: {
                // Any subset of the pool in any order, some records edited.
                QList<ServerConfig> next;
                for (const ServerConfig& candidate : pool) {
                    if (random.bounded(2))
                        next.append(candidate);
                }
                std::shuffle(next.begin(), next.end(), random);
                for (ServerConfig& record : next) {
                    if (random.bounded(3) == 0)
                        record.command += u'!';
                }
                store.setServers(next);
                break;
            }
            }
            QVERIFY2(!indexOutOfRange, qPrintable(u"round %1"_s.arg(round)));
            QCOMPARE(rows, idsOf(store.servers()));
        }
        QVERIFY(changes > 300);
    }

    void removingTheLastServerPersistsAnEmptyList()
    {
        ServerStore store(*m_settings, QProcessEnvironment());
        const ServerConfig a = Test::server(u"a"_s);
        store.add(a);
        store.remove(a.id);
        QSettings other(m_path, QSettings::IniFormat);
        QCOMPARE(other.value(ServerStore::settingsKey).toByteArray(), QByteArray("[]"));
    }

    void seed_data()
    {
        QTest::addColumn<QString>("seed");
        QTest::addColumn<bool>("ephemeral");
        QTest::addColumn<int>("count");

        const ServerConfig seeded = Test::server(u"seeded"_s);
        QTest::newRow("valid list") << QString::fromUtf8(ServerConfig::encodeList({ seeded, Test::server(u"x"_s) }))
                                    << true << 2;
        QTest::newRow("empty array") << u"[]"_s << true << 0;
        QTest::newRow("empty text") << QString() << false << 1;
        QTest::newRow("not JSON") << u"servers please"_s << false << 1;
        QTest::newRow("object") << u"{}"_s << false << 1;
        QTest::newRow("record missing a key") << u"[{\"name\":\"x\"}]"_s << false << 1;
    }

    // An ephemeral store never writes; an invalid seed is ignored silently and
    // the persisted list is used and written as usual.
    void seed()
    {
        QFETCH(QString, seed);
        QFETCH(bool, ephemeral);
        QFETCH(int, count);

        const ServerConfig persisted = Test::server(u"persisted"_s);
        m_settings->setValue(ServerStore::settingsKey, ServerConfig::encodeList({ persisted }));
        m_settings->sync();
        const QByteArray fileBefore = readFile(m_path);

        Wardlamp::Test::StandardErrorCapture capture;
        ServerStore store(*m_settings, environmentWith(seed));
        QCOMPARE(capture.take(), QByteArray());
        QCOMPARE(store.isEphemeral(), ephemeral);
        QCOMPARE(store.servers().size(), count);
        if (!ephemeral)
            QCOMPARE(store.servers().at(0), persisted);

        const ServerConfig added = Test::server(u"added"_s);
        store.add(added);
        ServerConfig edited = store.servers().at(0);
        edited.name = u"edited"_s;
        store.update(edited);
        store.remove(added.id);
        store.add(Test::server(u"again"_s));
        store.save();
        QCOMPARE(store.servers().size(), count + 1);

        if (ephemeral) {
            QCOMPARE(readFile(m_path), fileBefore); // byte for byte
        } else {
            QSettings other(m_path, QSettings::IniFormat);
            QCOMPARE(
                ServerConfig::decodeList(other.value(ServerStore::settingsKey).toByteArray()).value(), store.servers());
        }
    }

    void storedRecordsWithoutOptionalKeys()
    {
        const QByteArray id = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
        m_settings->setValue(ServerStore::settingsKey,
            QByteArray(QByteArray("[{\"id\":\"") + id.toLower()
                + "\",\"name\":\"n\",\"command\":\"c\",\"autostart\":true,\"errorAlertEnabled\":true}]"));
        ServerStore store(*m_settings, QProcessEnvironment());
        QCOMPARE(store.servers().size(), 1);
        const ServerConfig& loaded = store.servers().at(0);
        QCOMPARE(loaded.restartOnCrash, false);
        QCOMPARE(loaded.directory, std::nullopt);
        QCOMPARE(loaded.tunnelHostname, std::nullopt);
        QCOMPARE(Wardlamp::uuidText(loaded.id).toLatin1(), id);
    }

    void unreadableBlobIsKeptAside_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("kept"); // what the copy holds
        const QVariant withoutAutostart(
            QByteArray("[{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"name\":\"n\",\"command\":\"c\","
                       "\"errorAlertEnabled\":true}]"));
        QTest::newRow("record without autostart") << withoutAutostart << withoutAutostart;
        QTest::newRow("truncated JSON") << QVariant(QByteArray("[{\"id\":\"6F96"))
                                        << QVariant(QByteArray("[{\"id\":\"6F96"));
        QTest::newRow("binary") << QVariant(QByteArray("\x00\xff\x01garbage", 10))
                                << QVariant(QByteArray("\x00\xff\x01garbage", 10));
        // Not a blob QSettings wrote: the copy is the text as it stands in the file.
        QTest::newRow("not a blob") << QVariant(QStringList { u"a"_s, u"b"_s }) << QVariant(QByteArray("a, b"));
    }

    // A stored list that fails to decode used to be replaced by the next
    // change; it now survives under its own key.
    void unreadableBlobIsKeptAside()
    {
        QFETCH(QVariant, stored);
        QFETCH(QVariant, kept);
        m_settings->setValue(ServerStore::settingsKey, stored);
        m_settings->sync();

        Wardlamp::Test::StandardErrorCapture capture;
        ServerStore store(*m_settings, QProcessEnvironment());
        const QByteArray said = capture.take();
        QVERIFY(store.servers().isEmpty());
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.endsWith('\n'), said.constData());
        QVERIFY2(said.contains("\"wardlamp.servers.unreadable\""), said.constData());

        {
            QSettings other(m_path, QSettings::IniFormat); // already on disk before any change
            QCOMPARE(other.value(ServerStore::unreadableKey), kept);
        }

        const ServerConfig a = Test::server(u"a"_s);
        store.add(a);
        QSettings other(m_path, QSettings::IniFormat);
        QCOMPARE(other.value(ServerStore::unreadableKey), kept);
        QCOMPARE(ServerConfig::decodeList(other.value(ServerStore::settingsKey).toByteArray()).value(),
            QList<ServerConfig> { a });

        // Loading again finds a readable list and touches the copy no more.
        Wardlamp::Test::StandardErrorCapture quiet;
        ServerStore again(other, QProcessEnvironment());
        QCOMPARE(quiet.take(), QByteArray());
        QCOMPARE(again.servers(), QList<ServerConfig> { a });
    }

    void earlierUnreadableCopyIsNotOverwritten()
    {
        m_settings->setValue(ServerStore::unreadableKey, QByteArray("first"));
        m_settings->setValue(ServerStore::settingsKey, QByteArray("second"));
        m_settings->sync();
        Wardlamp::Test::StandardErrorCapture capture;
        {
            ServerStore store(*m_settings, QProcessEnvironment());
        }
        const QByteArray said = capture.take();
        QVERIFY2(said.contains("\"wardlamp.servers.unreadable.2\""), said.constData());
        QSettings other(m_path, QSettings::IniFormat);
        QCOMPARE(other.value(ServerStore::unreadableKey).toByteArray(), QByteArray("first"));
        QCOMPARE(other.value(u"wardlamp.servers.unreadable.2"_s).toByteArray(), QByteArray("second"));

        // The same unreadable blob again reuses the copy that already holds it.
        Wardlamp::Test::StandardErrorCapture again;
        ServerStore store(other, QProcessEnvironment());
        QVERIFY(again.take().contains("\"wardlamp.servers.unreadable.2\""));
        QVERIFY(!other.contains(u"wardlamp.servers.unreadable.3"_s));
    }

    // The README calls the value a JSON array, so people type one into the
    // file. QSettings reads it split at the commas and unquoted; the list
    // used to start empty and the next write destroyed what was typed.
    void handWrittenListIsNotDestroyed()
    {
        m_settings.reset();
        const QByteArray typed = "[{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"name\":\"api, the one\","
                                 "\"command\":\"bun \\\"server.js\\\" --port=3000\",\"autostart\":true,"
                                 "\"errorAlertEnabled\":false}]";
        const QByteArray file = "; my servers, typed by hand\n[General]\nwardlamp.servers = " + typed
            + "\nwardlamp.remote.macName=desk\n";
        {
            QFile out(m_path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(file);
        }
        m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);

        Wardlamp::Test::StandardErrorCapture capture;
        ServerStore store(*m_settings, QProcessEnvironment());
        const QByteArray said = capture.take();
        QCOMPARE(store.servers().size(), 1);
        QCOMPARE(store.servers().at(0).name, u"api, the one"_s);
        QCOMPARE(store.servers().at(0).command, u"bun \"server.js\" --port=3000"_s);
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.contains("was written by hand and is read as typed"), said.constData());
        const QString copy = m_path + u".hand-written"_s;
        QVERIFY2(said.contains(QByteArray("kept as " + copy.toUtf8())), said.constData());
        QCOMPARE(readFile(copy), file); // byte for byte, comments and all

        // Written from now on in QSettings' form, which reads back as typed.
        const ServerConfig b = Test::server(u"b"_s);
        store.add(b);
        QSettings other(m_path, QSettings::IniFormat);
        QCOMPARE(ServerConfig::decodeList(other.value(ServerStore::settingsKey).toByteArray()).value(),
            (QList<ServerConfig> { store.servers().at(0), b }));
        QCOMPARE(other.value(u"wardlamp.remote.macName"_s).toString(), u"desk"_s);
        QCOMPARE(readFile(copy), file);
    }

    // A typed list with a mistake in it starts empty, but what was typed is
    // kept byte for byte, under both keys, and the line says so truly.
    void handWrittenTypoIsKeptByteForByte()
    {
        m_settings.reset();
        const QByteArray typed = "[{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"name\":\"a, b\",}]";
        {
            QFile out(m_path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write("[General]\nwardlamp.servers=" + typed + "\n");
        }
        m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
        Wardlamp::Test::StandardErrorCapture capture;
        ServerStore store(*m_settings, QProcessEnvironment());
        const QByteArray said = capture.take();
        QVERIFY(store.servers().isEmpty());
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.contains("written by hand"), said.constData());
        QVERIFY2(said.contains("a copy is kept under \"wardlamp.servers.unreadable\""), said.constData());
        QSettings other(m_path, QSettings::IniFormat);
        QCOMPARE(other.value(ServerStore::unreadableKey).toByteArray(), typed);
        QCOMPARE(other.value(ServerStore::settingsKey).toByteArray(), typed);
    }

    // Two records of one id: the second would never run and its name would
    // label the first's lines. The first is kept, and the list as it was.
    void savedListWithDuplicateIdsKeepsTheFirst()
    {
        const ServerConfig a = Test::server(u"api"_s);
        ServerConfig twin = Test::server(u"web"_s);
        twin.id = a.id;
        const ServerConfig c = Test::server(u"worker"_s);
        const QByteArray blob = ServerConfig::encodeList({ a, twin, c });
        m_settings->setValue(ServerStore::settingsKey, blob);
        m_settings->sync();
        Wardlamp::Test::StandardErrorCapture capture;
        ServerStore store(*m_settings, QProcessEnvironment());
        const QByteArray said = capture.take();
        QCOMPARE(store.servers(), (QList<ServerConfig> { a, c }));
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.contains("record 2 (\"web\") has the id of record 1 (\"api\")"), said.constData());
        QVERIFY2(said.contains("keeps the first"), said.constData());
        QSettings other(m_path, QSettings::IniFormat);
        QCOMPARE(other.value(ServerStore::unreadableKey).toByteArray(), blob);

        // A seed with two servers of one id is refused like any invalid seed.
        ServerStore seeded(*m_settings, environmentWith(QString::fromUtf8(blob)));
        QVERIFY(!seeded.isEphemeral());
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_environment;
    std::unique_ptr<QSettings> m_settings;
    QString m_path;
    int m_counter = 0;
};

QTEST_GUILESS_MAIN(TestServerStore)
#include "TestServerStore.moc"
