#include "TestEnvironment.h"
#include "agent/EnvironmentValue.h"
#include "agent/PairingStore.h"
#include "platform/FileSecretStore.h"
#include "remotekit/RemoteCrypto.h"

#include <QProcessEnvironment>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

namespace {

constexpr auto secretHex = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

QString hexOf(const std::optional<SecretBytes>& secret)
{
    return secret ? RemoteCrypto::hexString(secret->view()) : u"<none>"_s;
}

// The file store, recording which accounts were written.
class SecretStoreWithEcho : public FileSecretStore {
public:
    using FileSecretStore::FileSecretStore;
    bool write(const QString& account, const QByteArray& data) override
    {
        written.append(account);
        // The value must be in the store before anyone hears of it.
        return FileSecretStore::write(account, data);
    }
    QStringList written;
};

} // namespace

class TestPairingStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    void init()
    {
        ++m_round;
        m_settingsPath = m_env->path(u"settings-%1.conf"_s.arg(m_round));
        m_secretsPath = m_env->path(u"secrets-%1"_s.arg(m_round));
    }

    void readBoolean_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        QTest::newRow("1") << u"1"_s << true;
        QTest::newRow("9") << u"9"_s << true;
        QTest::newRow("true") << u"true"_s << true;
        QTest::newRow("T") << u"T"_s << true;
        QTest::newRow("yes") << u"yes"_s << true;
        QTest::newRow("Y") << u"Y"_s << true;
        QTest::newRow("leading space") << u"  \t1"_s << true;
        QTest::newRow("plus and zeros") << u"+0007"_s << true;
        QTest::newRow("minus digit") << u"-3"_s << true;
        QTest::newRow("0") << u"0"_s << false;
        QTest::newRow("zeros") << u"000"_s << false;
        QTest::newRow("false") << u"false"_s << false;
        QTest::newRow("no") << u"no"_s << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("spaces only") << u"   "_s << false;
        QTest::newRow("on") << u"on"_s << false;
        QTest::newRow("sign then letter") << u"+y"_s << false;
        QTest::newRow("zero then letter") << u"0y"_s << false;
    }
    void readBoolean()
    {
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QCOMPARE(EnvironmentValue::readBoolean(text), expected);
    }

    void decodeHexSecret_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expectedHex"); // "<none>" when decoding fails
        QTest::newRow("64 digits") << QString::fromLatin1(secretHex) << QString::fromLatin1(secretHex);
        QTest::newRow("upper case") << QString::fromLatin1(secretHex).toUpper() << QString::fromLatin1(secretHex);
        QTest::newRow("mixed case") << u"aB0f"_s << u"ab0f"_s;
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("odd length") << u"abc"_s << u"<none>"_s;
        QTest::newRow("bad pair") << u"00zz"_s << u"<none>"_s;
        QTest::newRow("space inside") << u"00 1"_s << u"<none>"_s;
        QTest::newRow("non-ascii") << u"0\u00e9"_s << u"<none>"_s;
    }
    void decodeHexSecret()
    {
        QFETCH(QString, text);
        QFETCH(QString, expectedHex);
        QCOMPARE(hexOf(EnvironmentValue::decodeHexSecret(text)), expectedHex);
    }

    // One row per start-up situation: what the settings and the store hold
    // before, the environment, and what the store shows and keeps afterwards.
    void startupSequence_data()
    {
        QTest::addColumn<QVariant>("storedEnabled"); // invalid: absent
        QTest::addColumn<QVariant>("storedName");
        QTest::addColumn<QString>("storedSecretHex"); // empty: no item
        QTest::addColumn<QVariant>("storedPassword");
        QTest::addColumn<QStringList>("environment"); // NAME=value
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("name"); // "<host>": the default name
        QTest::addColumn<QString>("secretHex");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QVariant>("persistedEnabled");
        QTest::addColumn<QVariant>("persistedName");

        const QString stored = u"ffeeddccbbaa99887766554433221100ffeeddccbbaa99887766554433221100"_s;
        const QString envSecret = QString::fromLatin1(secretHex);
        QTest::newRow("first run") << QVariant() << QVariant() << QString() << QVariant() << QStringList() << false
                                   << u"<host>"_s << u"<none>"_s << QString() << QVariant() << QVariant();
        QTest::newRow("stored values") << QVariant(true) << QVariant(u"Studio"_s) << stored << QVariant(u"pw"_s)
                                       << QStringList() << true << u"Studio"_s << stored << u"pw"_s << QVariant(true)
                                       << QVariant(u"Studio"_s);
        QTest::newRow("environment secret wins, password with it")
            << QVariant() << QVariant() << stored << QVariant(u"stored pw"_s)
            << QStringList { u"WL_REMOTE_SECRET="_s + envSecret, u"WL_REMOTE_PASSWORD=env pw"_s } << false
            << u"<host>"_s << envSecret << u"env pw"_s << QVariant() << QVariant();
        QTest::newRow("environment secret without password: empty password")
            << QVariant() << QVariant() << stored << QVariant(u"stored pw"_s)
            << QStringList { u"WL_REMOTE_SECRET="_s + envSecret.toUpper() } << false << u"<host>"_s << envSecret
            << QString() << QVariant() << QVariant();
        QTest::newRow("odd-length secret ignored, and its password")
            << QVariant() << QVariant() << stored << QVariant(u"stored pw"_s)
            << QStringList { u"WL_REMOTE_SECRET=abc"_s, u"WL_REMOTE_PASSWORD=env pw"_s } << false << u"<host>"_s
            << stored << u"stored pw"_s << QVariant() << QVariant();
        QTest::newRow("bad pair ignored")
            << QVariant() << QVariant() << stored << QVariant() << QStringList { u"WL_REMOTE_SECRET=zz00"_s } << false
            << u"<host>"_s << stored << QString() << QVariant() << QVariant();
        QTest::newRow("empty secret is present")
            << QVariant() << QVariant() << stored << QVariant() << QStringList { u"WL_REMOTE_SECRET="_s } << false
            << u"<host>"_s << QString() << QString() << QVariant() << QVariant();
        QTest::newRow("enabled by environment persists")
            << QVariant(false) << QVariant() << QString() << QVariant() << QStringList { u"WL_REMOTE_ENABLED=yes"_s }
            << true << u"<host>"_s << u"<none>"_s << QString() << QVariant(true) << QVariant();
        QTest::newRow("disabled by environment persists")
            << QVariant(true) << QVariant() << QString() << QVariant() << QStringList { u"WL_REMOTE_ENABLED=0"_s }
            << false << u"<host>"_s << u"<none>"_s << QString() << QVariant(false) << QVariant();
        QTest::newRow("empty enabled value disables")
            << QVariant(true) << QVariant() << QString() << QVariant() << QStringList { u"WL_REMOTE_ENABLED="_s }
            << false << u"<host>"_s << u"<none>"_s << QString() << QVariant(false) << QVariant();
        QTest::newRow("name by environment persists")
            << QVariant() << QVariant(u"Old"_s) << QString() << QVariant()
            << QStringList { u"WL_REMOTE_MACNAME=Build box"_s } << false << u"Build box"_s << u"<none>"_s << QString()
            << QVariant() << QVariant(u"Build box"_s);
        QTest::newRow("password not UTF-8 reads empty")
            << QVariant() << QVariant() << stored << QVariant(QByteArray("\xff\xfe")) << QStringList() << false
            << u"<host>"_s << stored << QString() << QVariant() << QVariant();
    }
    void startupSequence()
    {
        QFETCH(QVariant, storedEnabled);
        QFETCH(QVariant, storedName);
        QFETCH(QString, storedSecretHex);
        QFETCH(QVariant, storedPassword);
        QFETCH(QStringList, environment);
        QFETCH(bool, enabled);
        QFETCH(QString, name);
        QFETCH(QString, secretHex);
        QFETCH(QString, password);
        QFETCH(QVariant, persistedEnabled);
        QFETCH(QVariant, persistedName);

        {
            QSettings before(m_settingsPath, QSettings::IniFormat);
            if (storedEnabled.isValid())
                before.setValue(PairingStore::enabledKey, storedEnabled);
            if (storedName.isValid())
                before.setValue(PairingStore::macNameKey, storedName);
        }
        FileSecretStore earlier(m_secretsPath);
        if (!storedSecretHex.isEmpty())
            QVERIFY(earlier.write(u"pairingSecret"_s, QByteArray::fromHex(storedSecretHex.toLatin1())));
        if (storedPassword.isValid()) {
            const QByteArray bytes = storedPassword.typeId() == QMetaType::QByteArray
                ? storedPassword.toByteArray()
                : storedPassword.toString().toUtf8();
            QVERIFY(earlier.write(u"password"_s, bytes));
        }

        QProcessEnvironment env;
        for (const QString& entry : environment)
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));

        SecretStoreWithEcho secrets(m_secretsPath);
        {
            QSettings settings(m_settingsPath, QSettings::IniFormat);
            PairingStore store(settings, env, secrets);
            QCOMPARE(store.isEnabled(), enabled);
            QCOMPARE(store.macName(), name == u"<host>"_s ? PairingStore::defaultMacName() : name);
            QCOMPARE(hexOf(store.secret()), secretHex);
            QCOMPARE(store.password(), password);
            QCOMPARE(store.credential().has_value(), store.secret().has_value());
        }
        // Nothing at start-up goes to the secret store.
        QCOMPARE(secrets.written, QStringList());
        QSettings after(m_settingsPath, QSettings::IniFormat);
        const QVariant afterEnabled = after.value(PairingStore::enabledKey);
        if (persistedEnabled.isValid())
            QCOMPARE(afterEnabled.toString(), persistedEnabled.toString());
        else if (storedEnabled.isValid())
            QCOMPARE(afterEnabled.toString(), storedEnabled.toString());
        else
            QVERIFY(!afterEnabled.isValid());
        const QVariant afterName = after.value(PairingStore::macNameKey);
        QCOMPARE(afterName, persistedName.isValid() ? persistedName : storedName);
    }

    void ensureSecretCreatesOnceAndStoresIt()
    {
        QSettings settings(m_settingsPath, QSettings::IniFormat);
        SecretStoreWithEcho secrets(m_secretsPath);
        PairingStore store(settings, QProcessEnvironment(), secrets);
        QVERIFY(!store.qrCode());
        QSignalSpy changed(&store, &PairingStore::secretChanged);
        store.ensureSecret();
        QVERIFY(store.secret());
        QCOMPARE(store.secret()->size(), 32);
        QCOMPARE(changed.size(), 1);
        const auto kept = FileSecretStore(m_secretsPath).read(u"pairingSecret"_s);
        QVERIFY(kept);
        QCOMPARE(*kept, store.secret()->revealBytes());
        const SecretBytes first = *store.secret();
        store.ensureSecret();
        QCOMPARE(*store.secret(), first);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(secrets.written, QStringList { u"pairingSecret"_s });
    }

    void rotateStoresBeforeAnnouncing()
    {
        QSettings settings(m_settingsPath, QSettings::IniFormat);
        FileSecretStore secrets(m_secretsPath);
        QProcessEnvironment env;
        env.insert(u"WL_REMOTE_SECRET"_s, QString::fromLatin1(secretHex));
        PairingStore store(settings, env, secrets);
        QVERIFY(store.secretFromEnvironment());
        QList<QByteArray> seenInStore;
        connect(&store, &PairingStore::secretChanged, this, [&] {
            const auto stored = FileSecretStore(m_secretsPath).read(u"pairingSecret"_s);
            seenInStore.append(stored ? *stored : QByteArray("<none>"));
            QCOMPARE(*stored, store.secret()->revealBytes());
        });
        const SecretBytes before = *store.secret();
        store.rotateSecret();
        store.rotateSecret();
        QCOMPARE(seenInStore.size(), 2);
        QVERIFY(seenInStore[0] != seenInStore[1]);
        QVERIFY(!(*store.secret() == before));
        QVERIFY(!store.secretFromEnvironment());
    }

    void assignmentsPersistAndNotify()
    {
        {
            QSettings settings(m_settingsPath, QSettings::IniFormat);
            FileSecretStore secrets(m_secretsPath);
            PairingStore store(settings, QProcessEnvironment(), secrets);
            QSignalSpy enabled(&store, &PairingStore::enabledChanged);
            QSignalSpy name(&store, &PairingStore::macNameChanged);
            QSignalSpy password(&store, &PairingStore::passwordChanged);
            // Subscribers read the new value when they hear of it.
            connect(&store, &PairingStore::passwordChanged, this,
                [&](const QString& value) { QCOMPARE(store.password(), value); });
            store.setEnabled(true);
            store.setEnabled(true);
            store.setMacName(u"Desk"_s);
            store.setPassword(u"secret pw"_s);
            store.setPassword(QString());
            QCOMPARE(enabled.size(), 2);
            QCOMPARE(name.size(), 1);
            QCOMPARE(password.size(), 2);
            store.ensureSecret();
            const QString before = *store.pairingKey();
            store.setMacName(u"Renamed"_s);
            QVERIFY(*store.pairingKey() != before);
            QCOMPARE(PairingCredential::parse(*store.pairingKey())->name, u"Renamed"_s);
        }
        QSettings settings(m_settingsPath, QSettings::IniFormat);
        FileSecretStore secrets(m_secretsPath);
        // An empty password is written as an empty item, and read back empty.
        const auto storedPassword = secrets.read(u"password"_s);
        QVERIFY(storedPassword);
        QVERIFY(storedPassword->isEmpty());
        PairingStore again(settings, QProcessEnvironment(), secrets);
        QVERIFY(again.isEnabled());
        QCOMPARE(again.macName(), u"Renamed"_s);
        QCOMPARE(again.password(), QString());
        QVERIFY(again.secret());
    }

    void qrCodeAtLevelM()
    {
        QSettings settings(m_settingsPath, QSettings::IniFormat);
        FileSecretStore secrets(m_secretsPath);
        PairingStore store(settings, QProcessEnvironment(), secrets);
        store.setMacName(u"A rather long computer name"_s);
        store.ensureSecret();
        const auto code = store.qrCode();
        QVERIFY(code);
        // The smallest version whose byte capacity at level M holds the key text
        // (at level L the key would fit a smaller version).
        constexpr int capacityAtM[] = { 14, 26, 42, 62, 84, 106, 122, 152, 180, 213, 251, 287, 331 };
        const qsizetype bytes = store.pairingKey()->toUtf8().size();
        int expectedVersion = 1;
        while (capacityAtM[expectedVersion - 1] < bytes)
            ++expectedVersion;
        QCOMPARE(code->version(), expectedVersion);
        QCOMPARE(code->size(), 17 + 4 * code->version());
        // Finder pattern corners are dark.
        QVERIFY(code->isDark(0, 0));
        QVERIFY(code->isDark(code->size() - 1, 0));
        QVERIFY(code->isDark(0, code->size() - 1));

        const QStringList rows = code->toTerminalText(2).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), (code->size() + 4 + 1) / 2);
        for (const QString& row : rows)
            QCOMPARE(row.size(), code->size() + 4);
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
    int m_round = 0;
    QString m_settingsPath;
    QString m_secretsPath;
};

QTEST_GUILESS_MAIN(TestPairingStore)
#include "TestPairingStore.moc"
