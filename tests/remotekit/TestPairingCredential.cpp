#include "remotekit/PairingCredential.h"

#include "TestEnvironment.h"

#include <QRegularExpression>
#include <QTest>

#include <memory>

using namespace Wardlamp;

namespace {

SecretBytes sequentialSecret(int length = 32)
{
    QByteArray bytes;
    for (int i = 0; i < length; ++i)
        bytes.append(char(i));
    return SecretBytes(bytes);
}

// A pairing key built by hand from JSON, the way another implementation would.
QString keyFromJson(const QByteArray& json)
{
    return QStringLiteral("WL1.")
        + QString::fromLatin1(json.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray secretJson(int length)
{
    return QByteArray(R"({"v":1,"name":"n","secret":")") + QByteArray(length, '\x7f').toBase64() + R"("})";
}

const QString canonical = QStringLiteral(
    "WL1.eyJ2IjoxLCJuYW1lIjoiU3R1ZGlvIiwic2VjcmV0IjoiQUFFQ0F3UUZCZ2NJQ1FvTERBME9EeEFSRWhNVUZSWVhHQmthR3h3ZEhoOD0ifQ");

} // namespace

class TestPairingCredential : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    void encodesCanonicalKey();
    void roundTripsAnyName_data();
    void roundTripsAnyName();
    void generateDrawsFreshSecrets();
    void parseAccepts_data();
    void parseAccepts();
    void parseRejects_data();
    void parseRejects();

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

void TestPairingCredential::encodesCanonicalKey()
{
    QCOMPARE(PairingCredential::prefix, QLatin1String("WL1."));
    const PairingCredential credential { 1, QStringLiteral("Studio"), sequentialSecret() };
    QCOMPARE(credential.encoded(), canonical);
}

void TestPairingCredential::roundTripsAnyName_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << QString();
    QTest::newRow("plain") << QStringLiteral("Studio");
    QTest::newRow("non-ASCII") << QStringLiteral("J\u00f6rg\u2019s \u4e16\u754c \U0001F511");
    QTest::newRow("quotes, slashes, controls") << QStringLiteral("a\"b\\c/d\ne\x1b") + QChar(0);
    QTest::newRow("bytes that base64 to + and /")
        << QStringLiteral("~~~!!!>>>").replace(QLatin1Char('!'), QLatin1Char('?'));
}

void TestPairingCredential::roundTripsAnyName()
{
    QFETCH(QString, name);
    const std::optional<PairingCredential> credential = PairingCredential::generate(name);
    QVERIFY(credential);
    const QString key = credential->encoded();
    static const QRegularExpression alphabet(QStringLiteral("^WL1\\.[A-Za-z0-9_-]+$"));
    QVERIFY2(alphabet.match(key).hasMatch(), qPrintable(key));
    QCOMPARE(PairingCredential::parse(key), credential);
}

void TestPairingCredential::generateDrawsFreshSecrets()
{
    const auto a = PairingCredential::generate(QStringLiteral("x"));
    const auto b = PairingCredential::generate(QStringLiteral("x"));
    QVERIFY(a && b);
    QCOMPARE(a->v, 1);
    QCOMPARE(a->secret.size(), 32);
    QVERIFY(!(a->secret == b->secret));
}

void TestPairingCredential::parseAccepts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("version");
    QTest::addColumn<QString>("name");
    const QString studio = QStringLiteral("Studio");
    QTest::newRow("canonical") << canonical << qint64(1) << studio;
    QTest::newRow("leading and trailing white space")
        << QStringLiteral(" \t\r\n") + canonical + QStringLiteral("\n \t") << qint64(1) << studio;
    QTest::newRow("Unicode spaces around")
        << QStringLiteral("\u00a0\u3000") + canonical + QStringLiteral("\u2029") << qint64(1) << studio;
    const QByteArray json = R"({"v":1,"name":"Studio","secret":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="})";
    QTest::newRow("standard alphabet with padding")
        << QStringLiteral("WL1.") + QString::fromLatin1(json.toBase64()) << qint64(1) << studio;
    QTest::newRow("version 2 is kept") << keyFromJson(
        R"({"v":2,"name":"Studio","secret":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="})")
                                       << qint64(2) << studio;
    QTest::newRow("negative version") << keyFromJson(
        R"({"v":-5,"name":"Studio","secret":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="})")
                                      << qint64(-5) << studio;
    QTest::newRow("reordered keys, spaces, escaped slash, unknown key") << keyFromJson(
        R"( { "x" : [1], "secret" : "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=" , "name" : "a\/b" , "v" : 1 } )")
                                                                        << qint64(1) << QStringLiteral("a/b");
}

void TestPairingCredential::parseAccepts()
{
    QFETCH(QString, text);
    QFETCH(qint64, version);
    QFETCH(QString, name);
    const std::optional<PairingCredential> credential = PairingCredential::parse(text);
    QVERIFY(credential);
    QCOMPARE(credential->v, version);
    QCOMPARE(credential->name, name);
    QVERIFY(credential->secret == sequentialSecret());
}

void TestPairingCredential::parseRejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("prefix only") << QStringLiteral("WL1.");
    QTest::newRow("prefix in lower case") << QStringLiteral("wl1.") + canonical.mid(4);
    QTest::newRow("other version prefix") << QStringLiteral("WL2.") + canonical.mid(4);
    QTest::newRow("no prefix") << canonical.mid(4);
    QTest::newRow("space inside") << canonical.left(20) + QLatin1Char(' ') + canonical.mid(20);
    QTest::newRow("line break inside") << canonical.left(20) + QLatin1Char('\n') + canonical.mid(20);
    QTest::newRow("remainder 1") << canonical + QStringLiteral("AAA") + QStringLiteral("A");
    QTest::newRow("character outside both alphabets") << canonical.left(20) + QLatin1Char('*') + canonical.mid(21);
    QTest::newRow("padding in the middle") << canonical.left(20) + QStringLiteral("==") + canonical.mid(22);
    QTest::newRow("not JSON") << keyFromJson("not json");
    QTest::newRow("JSON array") << keyFromJson("[1]");
    QTest::newRow("secret of 31 bytes") << keyFromJson(secretJson(31));
    QTest::newRow("secret of 33 bytes") << keyFromJson(secretJson(33));
    QTest::newRow("secret of 0 bytes") << keyFromJson(secretJson(0));
    QTest::newRow("missing v") << keyFromJson(
        R"({"name":"n","secret":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="})");
    QTest::newRow("missing name") << keyFromJson(R"({"v":1,"secret":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="})");
    QTest::newRow("missing secret") << keyFromJson(R"({"v":1,"name":"n"})");
    QTest::newRow("name null") << keyFromJson(
        R"({"v":1,"name":null,"secret":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="})");
    QTest::newRow("v as text") << keyFromJson(
        R"({"v":"1","name":"n","secret":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="})");
    QTest::newRow("v with a fraction") << keyFromJson(
        R"({"v":1.5,"name":"n","secret":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8="})");
    QTest::newRow("secret in URL-safe base64")
        << keyFromJson(R"({"v":1,"name":"n","secret":"__________________________________________8="})");
    QTest::newRow("secret without padding")
        << keyFromJson(R"({"v":1,"name":"n","secret":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8"})");
    QTest::newRow("secret with a line break")
        << keyFromJson("{\"v\":1,\"name\":\"n\",\"secret\":\"AAECAwQFBgcICQoLDA0ODxAREhMU\\nFRYXGBkaGxwdHh8=\"}");
    QTest::newRow("secret as array") << keyFromJson(R"({"v":1,"name":"n","secret":[0,1,2]})");
    QTest::newRow("duplicate secret") << keyFromJson(
        R"({"v":1,"name":"n","secret":"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=","secret":"//////////////////////////////////////////8="})");
}

void TestPairingCredential::parseRejects()
{
    QFETCH(QString, text);
    QCOMPARE(PairingCredential::parse(text), std::optional<PairingCredential>());
}

QTEST_GUILESS_MAIN(TestPairingCredential)
#include "TestPairingCredential.moc"
