#include "TestEnvironment.h"
#include "platform/FileSecretStore.h"
#include "platform/KeychainSecretStore.h"
#include "platform/SecretStores.h"

#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QUuid>

#include <memory>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

class TestSecretStores : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    void fileStoreRoundTripUserOnly()
    {
        const QString path = m_env->path(u"data/wardlamp/secrets"_s);
        FileSecretStore store(path);
        QCOMPARE(store.read(u"pairingSecret"_s).error(), SecretStoreError::notFound);
        const QByteArray secret = QByteArray::fromHex("00ff10203040506070");
        QVERIFY(store.write(u"pairingSecret"_s, secret));
        QVERIFY(store.write(u"password"_s, QByteArray()));
        QCOMPARE(*store.read(u"pairingSecret"_s), secret);
        QCOMPARE(*store.read(u"password"_s), QByteArray());
        constexpr QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup
            | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
        const QFileDevice::Permissions filePermissions = QFileInfo(path).permissions();
        QVERIFY(filePermissions.testFlags(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(filePermissions & others, QFileDevice::Permissions());
        QCOMPARE(QFileInfo(QFileInfo(path).absolutePath()).permissions() & others, QFileDevice::Permissions());
        // A second object (the next launch) sees the same items.
        QCOMPARE(*FileSecretStore(path).read(u"pairingSecret"_s), secret);
    }

    void unreadableFileIsKeptAside()
    {
        const QString path = m_env->path(u"broken/secrets"_s);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{not json");
        file.close();
        FileSecretStore store(path);
        QCOMPARE(store.read(u"pairingSecret"_s).error(), SecretStoreError::unavailable);
        QVERIFY(store.write(u"pairingSecret"_s, "abc"));
        QFile aside(path + u".unreadable"_s);
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), QByteArray("{not json"));
        QCOMPARE(*store.read(u"pairingSecret"_s), QByteArray("abc"));
    }

    // No Secret Service answering (here: a bus address where nothing listens):
    // the file is chosen at once, without waiting for any timeout.
    void fileFallbackWhenNoServiceAnswers()
    {
        const QDBusConnection dead
            = QDBusConnection::connectToBus(u"unix:path="_s + m_env->path(u"no-bus-here"_s), u"wardlamp-dead-bus"_s);
        QVERIFY(!dead.isConnected());
        QElapsedTimer timer;
        timer.start();
        const auto store = SecretStores::open(dead, m_env->path(u"fallback/secrets"_s), std::chrono::seconds(30));
        QVERIFY(timer.elapsed() < 5000);
        auto* file = dynamic_cast<FileSecretStore*>(store.get());
        QVERIFY(file);
        QCOMPARE(file->path(), m_env->path(u"fallback/secrets"_s));
        QVERIFY(store->write(u"pairingSecret"_s, "kept"));
        QCOMPARE(*SecretStores::open(dead, m_env->path(u"fallback/secrets"_s), std::chrono::seconds(1))
                      ->read(u"pairingSecret"_s),
            QByteArray("kept"));
        QDBusConnection::disconnectFromBus(u"wardlamp-dead-bus"_s);
    }

    // No bus address and no standard socket: the file, without connecting
    // (connecting could autolaunch a bus and a prompting keyring).
    void fileWithoutASessionBus()
    {
        const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("XDG_RUNTIME_DIR", m_env->path(u"no-runtime"_s).toUtf8());
        const auto store = SecretStores::open(std::chrono::seconds(30));
        auto restore = [](const char* name, const QByteArray& value) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        };
        restore("DBUS_SESSION_BUS_ADDRESS", address);
        restore("XDG_RUNTIME_DIR", runtime);
        auto* file = dynamic_cast<FileSecretStore*>(store.get());
        QVERIFY(file);
        QCOMPARE(file->path(), FileSecretStore::defaultPath());
    }

    // Against the session's real gnome-keyring (scripts/run-tests starts one).
    void secretServiceRoundTrip()
    {
        if (!SecretStores::secretServiceRegistered(QDBusConnection::sessionBus()))
            QSKIP("org.freedesktop.secrets is not registered on this session bus");
        const auto chosen = SecretStores::open(
            QDBusConnection::sessionBus(), m_env->path(u"unused"_s), std::chrono::seconds(Test::waitMs(10000) / 1000));
        QVERIFY(dynamic_cast<KeychainSecretStore*>(chosen.get()));

        KeychainSecretStore store(std::chrono::milliseconds(Test::waitMs(10000)));
        // A unique account, so runs never see each other's items.
        const QString account = u"test-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
        QCOMPARE(store.read(account).error(), SecretStoreError::notFound);
        QByteArray binary(32, '\0');
        for (int i = 0; i < binary.size(); ++i)
            binary[i] = char(255 - i * 7);
        QVERIFY(store.write(account, binary));
        QCOMPARE(*store.read(account), binary);
        const QByteArray text = u"tök€n with spaces"_s.toUtf8();
        QVERIFY(store.write(account, text));
        QCOMPARE(*store.read(account), text);
        QVERIFY(store.write(account, QByteArray()));
        const auto empty = store.read(account);
        QVERIFY(empty);
        QVERIFY(empty->isEmpty());
        QVERIFY(!QFile::exists(m_env->path(u"unused"_s)));
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestSecretStores)
#include "TestSecretStores.moc"
