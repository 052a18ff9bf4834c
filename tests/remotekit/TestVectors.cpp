#include "remotekit/ContentKey.h"
#include "remotekit/Envelope.h"
#include "remotekit/PairingCredential.h"
#include "remotekit/PeerMessage.h"
#include "remotekit/RemoteCrypto.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <openssl/evp.h>

#include <memory>

using namespace Wardlamp;

// Known answers produced by an independent implementation of the relay protocol:
// derivations, payloads that must and must not open, pairing keys, envelopes.
// The file lives outside this repository (shared/vectors beside the clone);
// WL_VECTORS_DIR names another folder.
class TestVectors : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void derivations_data() { rows(QStringLiteral("derivations")); }
    void derivations();
    void openOk_data() { rows(QStringLiteral("openOk")); }
    void openOk();
    void openFail_data() { rows(QStringLiteral("openFail")); }
    void openFail();
    void pairingOk_data() { rows(QStringLiteral("pairingOk")); }
    void pairingOk();
    void pairingFail_data() { rows(QStringLiteral("pairingFail")); }
    void pairingFail();
    void envelopeOk_data() { rows(QStringLiteral("envelopeOk")); }
    void envelopeOk();
    void envelopeFail_data() { rows(QStringLiteral("envelopeFail")); }
    void envelopeFail();

private:
    void rows(const QString& section);

    std::unique_ptr<Test::TestEnvironment> m_env;
    QJsonObject m_vectors;
};

namespace {

QByteArray hexBytes(const QJsonValue& value)
{
    return QByteArray::fromHex(value.toString().toLatin1());
}

ContentKey keyOf(const QJsonObject& row)
{
    const std::optional<ContentKey> key = ContentKey::fromBytes(hexBytes(row.value(QLatin1String("contentKeyHex"))));
    if (!key)
        qFatal("vector with a content key that is not 32 bytes");
    return *key;
}

QJsonObject asJson(const QByteArray& encoded)
{
    return QJsonDocument::fromJson(encoded).object();
}

} // namespace

void TestVectors::initTestCase()
{
    m_env = std::make_unique<Test::TestEnvironment>();
    QString dir = qEnvironmentVariable("WL_VECTORS_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral(WL_DEFAULT_VECTORS_DIR);
    QFile file(QDir(dir).filePath(QStringLiteral("remote-public.json")));
    if (!file.open(QIODevice::ReadOnly))
        QSKIP(qPrintable(QStringLiteral("no known-answer vectors at %1 (set WL_VECTORS_DIR to the folder holding "
                                        "remote-public.json)")
                             .arg(file.fileName())));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    QVERIFY2(document.isObject(), qPrintable(error.errorString()));
    m_vectors = document.object();
    QCOMPARE(m_vectors.value(QLatin1String("format")).toInt(), 1);
    const QJsonObject constants = m_vectors.value(QLatin1String("constants")).toObject();
    QCOMPARE(constants.value(QLatin1String("salt")).toString(), QString(RemoteCrypto::protocolSalt));
    QCOMPARE(constants.value(QLatin1String("notifyPrefix")).toString(), QString(RemoteCrypto::notifyTagPrefix));
    QCOMPARE(constants.value(QLatin1String("pbkdf2Iterations")).toInt(), RemoteCrypto::pbkdf2Iterations);
    QCOMPARE(constants.value(QLatin1String("pairingPrefix")).toString(), QString(PairingCredential::prefix));
    const QJsonObject labels = constants.value(QLatin1String("labels")).toObject();
    QCOMPARE(labels.value(QLatin1String("room")).toString(), QString(RemoteCrypto::roomLabel));
    QCOMPARE(labels.value(QLatin1String("pwsalt")).toString(), QString(RemoteCrypto::passwordSaltLabel));
    QCOMPARE(labels.value(QLatin1String("nopw")).toString(), QString(RemoteCrypto::noPasswordLabel));
    QCOMPARE(labels.value(QLatin1String("content")).toString(), QString(RemoteCrypto::contentLabel));
}

void TestVectors::rows(const QString& section)
{
    QTest::addColumn<QJsonObject>("row");
    const QJsonArray array = m_vectors.value(section).toArray();
    QVERIFY2(!array.isEmpty(), qPrintable(section));
    for (const QJsonValue& value : array) {
        const QJsonObject row = value.toObject();
        QTest::newRow(qPrintable(row.value(QLatin1String("label")).toString())) << row;
    }
}

void TestVectors::derivations()
{
    QFETCH(QJsonObject, row);
    const QByteArray secretBytes = hexBytes(row.value(QLatin1String("secretHex")));
    const SecretBytes secret(secretBytes);
    const QJsonValue passwordValue = row.value(QLatin1String("password"));
    const std::optional<QString> password
        = passwordValue.isNull() ? std::nullopt : std::optional<QString>(passwordValue.toString());
    if (password)
        QCOMPARE(password->toUtf8(), hexBytes(row.value(QLatin1String("passwordUtf8Hex"))));

    QCOMPARE(RemoteCrypto::roomId(secret), row.value(QLatin1String("roomId")).toString());

    const QByteArray salt = QByteArray(RemoteCrypto::protocolSalt.data(), RemoteCrypto::protocolSalt.size());
    const QByteArray stretched = hexBytes(row.value(QLatin1String("stretchedHex")));
    if (password && !password->isEmpty()) {
        const auto passwordSalt = RemoteCrypto::hkdfSha256(secretBytes, salt, "pwsalt/v1", 16);
        QCOMPARE(passwordSalt, std::optional<QByteArray>(hexBytes(row.value(QLatin1String("passwordSaltHex")))));
        QByteArray pbkdf2(32, '\0');
        const QByteArray utf8 = password->toUtf8();
        QVERIFY(PKCS5_PBKDF2_HMAC(utf8.constData(), int(utf8.size()),
                    reinterpret_cast<const unsigned char*>(passwordSalt->constData()), 16,
                    RemoteCrypto::pbkdf2Iterations, EVP_sha256(), 32, reinterpret_cast<unsigned char*>(pbkdf2.data()))
            == 1);
        QCOMPARE(pbkdf2, stretched);
    } else {
        QVERIFY(row.value(QLatin1String("passwordSaltHex")).isNull());
        QCOMPARE(RemoteCrypto::hkdfSha256(secretBytes, salt, "nopw/v1", 32), std::optional<QByteArray>(stretched));
    }

    const std::optional<ContentKey> key = RemoteCrypto::contentKey(secret, password);
    QVERIFY(key);
    QVERIFY2(*key == keyOf(row), "content key differs");

    const QJsonObject tags = row.value(QLatin1String("notifyTags")).toObject();
    QCOMPARE(tags.size(), int(allNotifyKinds.size()));
    for (NotifyKind kind : allNotifyKinds)
        QCOMPARE(RemoteCrypto::notifyTag(kind, *key), tags.value(QString(rawValue(kind))).toString());
}

void TestVectors::openOk()
{
    QFETCH(QJsonObject, row);
    const ContentKey key = keyOf(row);
    const QString payload = row.value(QLatin1String("payload")).toString();

    const auto plaintext = RemoteCrypto::open(QByteArray::fromBase64(payload.toLatin1()), key);
    QVERIFY(plaintext);
    QCOMPARE(*plaintext, row.value(QLatin1String("plaintext")).toString().toUtf8());

    const auto opened = PeerMessage::opened(payload, key);
    QVERIFY2(opened, opened ? "" : errorName(opened.error()).data());
    // Compared as JSON objects: key order and number spelling do not matter,
    // every field and value does.
    const std::optional<QByteArray> reencoded = opened->encode();
    QVERIFY(reencoded);
    QCOMPARE(asJson(*reencoded), row.value(QLatin1String("message")).toObject());
    // And it survives our own seal and open unchanged.
    const auto resealed = opened->sealed(key);
    QVERIFY(resealed);
    QCOMPARE(PeerMessage::opened(*resealed, key).value(), opened.value());
}

void TestVectors::openFail()
{
    QFETCH(QJsonObject, row);
    const QString expected = row.value(QLatin1String("error")).toString();
    const QHash<QString, RemoteCryptoError> errors {
        { QStringLiteral("sealFailed"), RemoteCryptoError::sealFailed },
        { QStringLiteral("size"), RemoteCryptoError::incorrectSize },
        { QStringLiteral("auth"), RemoteCryptoError::authenticationFailure },
        { QStringLiteral("decode"), RemoteCryptoError::decodingFailed },
    };
    QVERIFY2(errors.contains(expected), qPrintable(expected));
    const auto opened = PeerMessage::opened(row.value(QLatin1String("payload")).toString(), keyOf(row));
    QVERIFY(!opened);
    QCOMPARE(errorName(opened.error()), errorName(errors.value(expected)));
}

void TestVectors::pairingOk()
{
    QFETCH(QJsonObject, row);
    const std::optional<PairingCredential> credential
        = PairingCredential::parse(row.value(QLatin1String("text")).toString());
    QVERIFY(credential);
    const QJsonObject expected = row.value(QLatin1String("credential")).toObject();
    QCOMPARE(credential->v, expected.value(QLatin1String("v")).toInteger());
    QCOMPARE(credential->name, expected.value(QLatin1String("name")).toString());
    QVERIFY(credential->secret == SecretBytes(hexBytes(expected.value(QLatin1String("secretHex")))));
    QCOMPARE(PairingCredential::parse(credential->encoded()), credential);
}

void TestVectors::pairingFail()
{
    QFETCH(QJsonObject, row);
    QCOMPARE(PairingCredential::parse(row.value(QLatin1String("text")).toString()), std::optional<PairingCredential>());
}

void TestVectors::envelopeOk()
{
    QFETCH(QJsonObject, row);
    const std::optional<Envelope> envelope = Envelope::decode(row.value(QLatin1String("text")).toString().toUtf8());
    QVERIFY(envelope);
    QCOMPARE(asJson(envelope->encode()), row.value(QLatin1String("envelope")).toObject());
}

void TestVectors::envelopeFail()
{
    QFETCH(QJsonObject, row);
    QCOMPARE(Envelope::decode(row.value(QLatin1String("text")).toString().toUtf8()), std::optional<Envelope>());
}

QTEST_GUILESS_MAIN(TestVectors)
#include "TestVectors.moc"
