#include "supervision/ServerStore.h"

#include "StandardErrorCapture.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using Wardlamp::ServerConfig;
using Wardlamp::ServerStore;

namespace {

ServerConfig server(const QString& name)
{
    ServerConfig config;
    config.id = QUuid::createUuid();
    config.name = name;
    config.command = u"run "_s + name;
    return config;
}

QProcessEnvironment environmentWith(const QString& seed)
{
    QProcessEnvironment environment;
    environment.insert(u"WL_SEED_SERVERS"_s, seed);
    return environment;
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
        const ServerConfig a = server(u"a"_s);
        const ServerConfig b = server(u"b"_s);
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
        const ServerConfig a = server(u"a"_s);
        ServerConfig b = server(u"b"_s);
        const ServerConfig c = server(u"c"_s);
        store.setServers({ a, b, c, b });
        QSignalSpy changed(&store, &ServerStore::serversChanged);

        const ServerConfig oldB = b;
        b.name = u"renamed"_s;
        b.directory = u"/srv"_s;
        store.update(b); // the first record with the id, in place
        QCOMPARE(store.servers(), (QList<ServerConfig> { a, b, c, oldB }));
        QCOMPARE(changed.size(), 1);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"update of a server that is not in the list"_s));
        store.update(server(u"stranger"_s)); // unknown id: nothing
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

    void removingTheLastServerPersistsAnEmptyList()
    {
        ServerStore store(*m_settings, QProcessEnvironment());
        const ServerConfig a = server(u"a"_s);
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

        const ServerConfig seeded = server(u"seeded"_s);
        QTest::newRow("valid list") << QString::fromUtf8(ServerConfig::encodeList({ seeded, server(u"x"_s) })) << true
                                    << 2;
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

        const ServerConfig persisted = server(u"persisted"_s);
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

        const ServerConfig added = server(u"added"_s);
        store.add(added);
        ServerConfig edited = store.servers().at(0);
        edited.name = u"edited"_s;
        store.update(edited);
        store.remove(added.id);
        store.add(server(u"again"_s));
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
        QTest::newRow("record without autostart")
            << QVariant(QByteArray("[{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"name\":\"n\",\"command\":\"c\","
                                   "\"errorAlertEnabled\":true}]"));
        QTest::newRow("truncated JSON") << QVariant(QByteArray("[{\"id\":\"6F96"));
        QTest::newRow("binary") << QVariant(QByteArray("\x00\xff\x01garbage", 10));
        QTest::newRow("not a blob") << QVariant(QStringList { u"a"_s, u"b"_s });
    }

    // A stored list that fails to decode used to be replaced by the next
    // change; it now survives under its own key.
    void unreadableBlobIsKeptAside()
    {
        QFETCH(QVariant, stored);
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
            QCOMPARE(other.value(ServerStore::unreadableKey), stored);
        }

        const ServerConfig a = server(u"a"_s);
        store.add(a);
        QSettings other(m_path, QSettings::IniFormat);
        QCOMPARE(other.value(ServerStore::unreadableKey), stored);
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

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_environment;
    std::unique_ptr<QSettings> m_settings;
    QString m_path;
    int m_counter = 0;
};

QTEST_GUILESS_MAIN(TestServerStore)
#include "TestServerStore.moc"
