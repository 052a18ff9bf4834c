#include "remotekit/ContentKey.h"
#include "remotekit/PeerMessage.h"
#include "remotekit/RemoteCrypto.h"
#include "remotekit/SecretBytes.h"

#include "TestEnvironment.h"

#include <QRegularExpression>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>
#include <type_traits>

using namespace Wardlamp;

// Key material must never turn into text or a byte array by accident.
static_assert(!std::is_convertible_v<ContentKey, QString>);
static_assert(!std::is_convertible_v<ContentKey, QByteArray>);
static_assert(!std::is_convertible_v<ContentKey, QByteArrayView>);
static_assert(!std::is_constructible_v<QString, ContentKey>);
static_assert(!std::is_default_constructible_v<ContentKey>);
static_assert(!std::is_convertible_v<SecretBytes, QString>);
static_assert(!std::is_convertible_v<SecretBytes, QByteArray>);
static_assert(!std::is_convertible_v<QByteArray, SecretBytes>);
static_assert(!std::is_convertible_v<QString, SecretBytes>);

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

SecretBytes secretOf(const char* hexText)
{
    return SecretBytes(QByteArray::fromHex(hexText));
}

const SecretBytes& testSecret()
{
    static const SecretBytes secret = secretOf("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    return secret;
}

ContentKey keyOf(const SecretBytes& secret, std::optional<QString> password = std::nullopt)
{
    std::optional<ContentKey> key = RemoteCrypto::contentKey(secret, password);
    if (!key)
        qFatal("content key derivation failed");
    return *key;
}

bool isLowerHex(const QString& text, qsizetype length)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]*$"));
    return text.size() == length && pattern.match(text).hasMatch();
}

} // namespace

class TestRemoteCrypto : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    void hkdfMatchesRfc5869_data();
    void hkdfMatchesRfc5869();
    void hmacMatchesRfc4231_data();
    void hmacMatchesRfc4231();
    void hexStringIsTwoLowerCaseDigitsPerByte();

    void roomIdIsStableLowerHexForAnySecretLength_data();
    void roomIdIsStableLowerHexForAnySecretLength();
    void contentKeyTreatsAbsentAndEmptyPasswordAlike();
    void contentKeyUsesPasswordExactlyAsGiven_data();
    void contentKeyUsesPasswordExactlyAsGiven();
    void contentKeyRunsOnWorkerThread();
    void notifyTagsAreDistinctPerKindAndKey();

    void sealAddsNonceAndTag_data();
    void sealAddsNonceAndTag();
    void sealUsesFreshNonceEveryTime();
    void openRejectsShortInput_data();
    void openRejectsShortInput();
    void openRejectsKeyOfOtherPassword();
    void openRejectsEveryFlippedBit();

    void openedRejectsPayloadText_data();
    void openedRejectsPayloadText();
    void sealedMessageOpensToEqualMessage();
    void openedHandsBackNonce();

    void randomBytesHonoursCount();
    void keyMaterialNeverPrintsItsBytes();

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

void TestRemoteCrypto::hkdfMatchesRfc5869_data()
{
    QTest::addColumn<QByteArray>("ikm");
    QTest::addColumn<QByteArray>("salt");
    QTest::addColumn<QByteArray>("info");
    QTest::addColumn<QByteArray>("okm");
    QByteArray longIkm, longSalt, longInfo;
    for (int i = 0; i < 80; ++i) {
        longIkm.append(char(i));
        longSalt.append(char(0x60 + i));
        longInfo.append(char(0xb0 + i));
    }
    // RFC 5869, Appendix A: test cases 1-3 (HKDF with SHA-256).
    QTest::newRow("RFC 5869 A.1")
        << QByteArray(22, '\x0b') << hex("000102030405060708090a0b0c") << hex("f0f1f2f3f4f5f6f7f8f9")
        << hex("3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");
    QTest::newRow("RFC 5869 A.2")
        << longIkm << longSalt << longInfo
        << hex("b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41c65e590e09da32756"
               "00c2f09b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87");
    QTest::newRow("RFC 5869 A.3")
        << QByteArray(22, '\x0b') << QByteArray() << QByteArray()
        << hex("8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8");
}

void TestRemoteCrypto::hkdfMatchesRfc5869()
{
    QFETCH(QByteArray, ikm);
    QFETCH(QByteArray, salt);
    QFETCH(QByteArray, info);
    QFETCH(QByteArray, okm);
    QCOMPARE(RemoteCrypto::hkdfSha256(ikm, salt, info, okm.size()), std::optional<QByteArray>(okm));
}

void TestRemoteCrypto::hmacMatchesRfc4231_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("mac");
    QByteArray key4;
    for (int i = 1; i <= 25; ++i)
        key4.append(char(i));
    // RFC 4231, section 4: test cases 1-4, 6 and 7, HMAC-SHA-256 (case 5 tests
    // truncated output, which this protocol does at its own level).
    QTest::newRow("RFC 4231 4.2") << QByteArray(20, '\x0b') << QByteArray("Hi There")
                                  << hex("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    QTest::newRow("RFC 4231 4.3") << QByteArray("Jefe") << QByteArray("what do ya want for nothing?")
                                  << hex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    QTest::newRow("RFC 4231 4.4") << QByteArray(20, '\xaa') << QByteArray(50, '\xdd')
                                  << hex("773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe");
    QTest::newRow("RFC 4231 4.5") << key4 << QByteArray(50, '\xcd')
                                  << hex("82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b");
    QTest::newRow("RFC 4231 4.7") << QByteArray(131, '\xaa')
                                  << QByteArray("Test Using Larger Than Block-Size Key - Hash Key First")
                                  << hex("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    QTest::newRow("RFC 4231 4.8") << QByteArray(131, '\xaa')
                                  << QByteArray("This is a test using a larger than block-size key and a larger than "
                                                "block-size data. The key needs to be hashed before being used by the "
                                                "HMAC algorithm.")
                                  << hex("9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2");
}

void TestRemoteCrypto::hmacMatchesRfc4231()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, mac);
    QCOMPARE(RemoteCrypto::hmacSha256(key, data), std::optional<QByteArray>(mac));
}

void TestRemoteCrypto::hexStringIsTwoLowerCaseDigitsPerByte()
{
    QCOMPARE(RemoteCrypto::hexString(QByteArray()), QString());
    QCOMPARE(RemoteCrypto::hexString(hex("000fa0ff7e")), QStringLiteral("000fa0ff7e"));
}

void TestRemoteCrypto::roomIdIsStableLowerHexForAnySecretLength_data()
{
    QTest::addColumn<int>("length");
    for (int length : { 0, 1, 16, 32, 64, 1000 })
        QTest::addRow("%d bytes", length) << length;
}

void TestRemoteCrypto::roomIdIsStableLowerHexForAnySecretLength()
{
    QFETCH(int, length);
    const SecretBytes secret(QByteArray(length, '\x5a'));
    const QString room = RemoteCrypto::roomId(secret);
    QVERIFY2(isLowerHex(room, 32), qPrintable(room));
    QCOMPARE(RemoteCrypto::roomId(SecretBytes(QByteArray(length, '\x5a'))), room);
    QVERIFY(RemoteCrypto::roomId(SecretBytes(QByteArray(length + 1, '\x5a'))) != room);
    QVERIFY(RemoteCrypto::contentKey(secret)); // derivations accept any length
}

void TestRemoteCrypto::contentKeyTreatsAbsentAndEmptyPasswordAlike()
{
    const ContentKey none = keyOf(testSecret());
    QVERIFY(none == keyOf(testSecret(), QString()));
    QVERIFY(none == keyOf(testSecret(), QStringLiteral("")));
    QVERIFY(!(none == keyOf(secretOf("01"))));
}

void TestRemoteCrypto::contentKeyUsesPasswordExactlyAsGiven_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::newRow("leading space") << QStringLiteral("hunter2") << QStringLiteral(" hunter2");
    QTest::newRow("trailing line break") << QStringLiteral("hunter2") << QStringLiteral("hunter2\n");
    QTest::newRow("letter case") << QStringLiteral("hunter2") << QStringLiteral("Hunter2");
    QTest::newRow("spaces only versus none") << QStringLiteral("   ") << QString();
    // No Unicode normalisation: é precomposed and decomposed are two passwords.
    QTest::newRow("composed versus decomposed") << QStringLiteral("caf\u00e9") << QStringLiteral("cafe\u0301");
}

void TestRemoteCrypto::contentKeyUsesPasswordExactlyAsGiven()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    const ContentKey keyA = keyOf(testSecret(), a);
    QVERIFY(!(keyA == keyOf(testSecret(), b)));
    QVERIFY(!(keyA == keyOf(testSecret())));
}

void TestRemoteCrypto::contentKeyRunsOnWorkerThread()
{
    const ContentKey here = keyOf(testSecret(), QStringLiteral("pw"));
    QFuture<std::optional<ContentKey>> future
        = QtConcurrent::run([] { return RemoteCrypto::contentKey(testSecret(), QStringLiteral("pw")); });
    const std::optional<ContentKey> there = future.result();
    QVERIFY(there && *there == here);
}

void TestRemoteCrypto::notifyTagsAreDistinctPerKindAndKey()
{
    const ContentKey key = keyOf(testSecret());
    const ContentKey other = keyOf(testSecret(), QStringLiteral("x"));
    QSet<QString> seen;
    for (NotifyKind kind : allNotifyKinds) {
        const QString tag = RemoteCrypto::notifyTag(kind, key);
        QVERIFY2(isLowerHex(tag, 32), qPrintable(tag));
        QCOMPARE(RemoteCrypto::notifyTag(kind, key), tag);
        QVERIFY(RemoteCrypto::notifyTag(kind, other) != tag);
        seen.insert(tag);
    }
    QCOMPARE(seen.size(), 3);
}

void TestRemoteCrypto::sealAddsNonceAndTag_data()
{
    QTest::addColumn<int>("length");
    for (int length : { 0, 1, 15, 16, 17, 4096, 1 << 20 })
        QTest::addRow("%d bytes", length) << length;
}

void TestRemoteCrypto::sealAddsNonceAndTag()
{
    QFETCH(int, length);
    const ContentKey key = keyOf(testSecret());
    QByteArray plaintext(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        plaintext[i] = char(i * 7);
    const auto sealed = RemoteCrypto::seal(plaintext, key);
    QVERIFY(sealed);
    QCOMPARE(sealed->size(), length + 28);
    const auto opened = RemoteCrypto::open(*sealed, key);
    QVERIFY(opened);
    QCOMPARE(*opened, plaintext);
}

void TestRemoteCrypto::sealUsesFreshNonceEveryTime()
{
    const ContentKey key = keyOf(testSecret());
    const QByteArray plaintext("same text");
    const auto first = RemoteCrypto::seal(plaintext, key);
    const auto second = RemoteCrypto::seal(plaintext, key);
    QVERIFY(first && second);
    QVERIFY(first->first(12) != second->first(12));
    QVERIFY(*first != *second);
    QCOMPARE(*RemoteCrypto::open(*first, key), plaintext);
    QCOMPARE(*RemoteCrypto::open(*second, key), plaintext);
}

void TestRemoteCrypto::openRejectsShortInput_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("error");
    QTest::newRow("empty") << 0 << int(RemoteCryptoError::incorrectSize);
    QTest::newRow("27 bytes") << 27 << int(RemoteCryptoError::incorrectSize);
    QTest::newRow("28 bytes of noise") << 28 << int(RemoteCryptoError::authenticationFailure);
}

void TestRemoteCrypto::openRejectsShortInput()
{
    QFETCH(int, length);
    QFETCH(int, error);
    const auto opened = RemoteCrypto::open(QByteArray(length, '\x11'), keyOf(testSecret()));
    QVERIFY(!opened);
    QCOMPARE(int(opened.error()), error);
}

void TestRemoteCrypto::openRejectsKeyOfOtherPassword()
{
    const auto sealed = RemoteCrypto::seal("hello", keyOf(testSecret(), QStringLiteral("one")));
    QVERIFY(sealed);
    for (const std::optional<QString>& password : { std::optional<QString>(), std::optional(QStringLiteral("two")) }) {
        const auto opened = RemoteCrypto::open(*sealed, keyOf(testSecret(), password));
        QVERIFY(!opened);
        QCOMPARE(opened.error(), RemoteCryptoError::authenticationFailure);
    }
}

void TestRemoteCrypto::openRejectsEveryFlippedBit()
{
    const ContentKey key = keyOf(testSecret());
    const auto sealed = RemoteCrypto::seal("short message", key);
    QVERIFY(sealed);
    for (qsizetype bit = 0; bit < sealed->size() * 8; ++bit) {
        QByteArray altered = *sealed;
        altered[bit / 8] = char(altered[bit / 8] ^ (1 << (bit % 8)));
        const auto opened = RemoteCrypto::open(altered, key);
        QVERIFY2(!opened, qPrintable(QStringLiteral("bit %1 accepted").arg(bit)));
        QCOMPARE(opened.error(), RemoteCryptoError::authenticationFailure);
    }
}

void TestRemoteCrypto::openedRejectsPayloadText_data()
{
    QTest::addColumn<QString>("payload");
    QTest::addColumn<int>("error");
    const ContentKey key = keyOf(testSecret());
    const QString good = PeerMessage::requestSnapshot().sealed(key).value();
    const int sealFailed = int(RemoteCryptoError::sealFailed);
    QTest::newRow("URL-safe character") << good.left(4) + QLatin1Char('-') + good.mid(5) << sealFailed;
    QTest::newRow("URL-safe underscore") << good.left(4) + QLatin1Char('_') + good.mid(5) << sealFailed;
    QTest::newRow("missing padding") << QStringLiteral("QUJD") + QStringLiteral("QQ") << sealFailed;
    QTest::newRow("one padding character short") << QStringLiteral("QQ=") << sealFailed;
    QTest::newRow("padding in the middle") << QStringLiteral("QQ==QUJD") << sealFailed;
    QTest::newRow("three padding characters") << QStringLiteral("Q===") << sealFailed;
    QTest::newRow("only padding") << QStringLiteral("====") << sealFailed;
    QTest::newRow("leading space") << QLatin1Char(' ') + good << sealFailed;
    QTest::newRow("trailing line break") << good + QLatin1Char('\n') << sealFailed;
    QTest::newRow("line break inside") << good.left(8) + QStringLiteral("\r\n") + good.mid(8) << sealFailed;
    QTest::newRow("non-ASCII letter") << QStringLiteral("QUJ\u00c4") << sealFailed;
    QTest::newRow("NUL") << QStringLiteral("QUJD") + QChar(0) + QStringLiteral("QUJ") << sealFailed;
    QTest::newRow("non-zero unused bits") << QStringLiteral("QR==") << sealFailed;
    QTest::newRow("empty text is 0 bytes") << QString() << int(RemoteCryptoError::incorrectSize);
    QTest::newRow("27 bytes") << QString::fromLatin1(QByteArray(27, 'x').toBase64())
                              << int(RemoteCryptoError::incorrectSize);
    // The first character comes from the random nonce: it is replaced with one
    // it is not, or one run in 64 would "alter" nothing.
    const QChar other = good.front() == u'B' ? u'C' : u'B';
    QTest::newRow("authentic bytes, altered") << other + good.mid(1) << int(RemoteCryptoError::authenticationFailure);
    const auto notMessage = RemoteCrypto::seal(R"({"type":"unknown"})", key);
    QTest::newRow("authentic bytes, not a message")
        << QString::fromLatin1(notMessage->toBase64()) << int(RemoteCryptoError::decodingFailed);
    const auto array = RemoteCrypto::seal("[]", key);
    QTest::newRow("authentic JSON array")
        << QString::fromLatin1(array->toBase64()) << int(RemoteCryptoError::decodingFailed);
}

void TestRemoteCrypto::openedRejectsPayloadText()
{
    QFETCH(QString, payload);
    QFETCH(int, error);
    const auto opened = PeerMessage::opened(payload, keyOf(testSecret()));
    QVERIFY(!opened);
    QCOMPARE(errorName(opened.error()), errorName(RemoteCryptoError(error)));
}

void TestRemoteCrypto::sealedMessageOpensToEqualMessage()
{
    const ContentKey key = keyOf(testSecret(), QStringLiteral("pw"));
    WireServer server;
    server.id = QUuid::createUuid();
    server.name = QStringLiteral("api");
    server.command = QStringLiteral("bun server.js");
    server.status = WireStatus::error;
    server.hasError = true;
    server.pid = 77;
    server.startedAt = WireTime::fromDateTime(QDateTime::currentDateTimeUtc());
    server.lastExitCode = 3;
    const QList<PeerMessage> messages {
        PeerMessage::snapshot(Snapshot { QStringLiteral("Studio"), { server }, WireTime { 1733700001000.5 } }),
        PeerMessage::logAppend(server.id,
            { WireLogLine { QUuid::createUuid(), WireTime { 1500.5 }, QStringLiteral("\x1b[1mbold\x1b[0m"), false } }),
        PeerMessage::commandAck(server.id, CommandAction::restart, false, QStringLiteral("not found")),
        PeerMessage::subscribeLogs(),
    };
    for (const PeerMessage& message : messages) {
        const auto payload = message.sealed(key);
        QVERIFY(payload);
        QVERIFY(!payload->contains(QLatin1Char('\n')));
        const auto opened = PeerMessage::opened(*payload, key);
        QVERIFY(opened);
        QCOMPARE(opened.value(), message);
        if (opened->snapshotRecord)
            QCOMPARE(opened->snapshotRecord->servers.at(0).startedAt->toDateTime(), server.startedAt->toDateTime());
    }
}

void TestRemoteCrypto::openedHandsBackNonce()
{
    const ContentKey key = keyOf(testSecret());
    const QString payload = PeerMessage::requestSnapshot().sealed(key).value();
    const auto opened = PeerMessage::openedWithNonce(payload, key);
    QVERIFY(opened);
    QCOMPARE(opened->nonce, QByteArray::fromBase64(payload.toLatin1()).first(12));
}

void TestRemoteCrypto::randomBytesHonoursCount()
{
    QCOMPARE(RemoteCrypto::randomBytes(0), std::optional<QByteArray>(QByteArray()));
    QVERIFY(!RemoteCrypto::randomBytes(-1));
    const auto a = RemoteCrypto::randomBytes(32);
    const auto b = RemoteCrypto::randomBytes(32);
    QVERIFY(a && b);
    QCOMPARE(a->size(), 32);
    QVERIFY(*a != *b);
    const auto secret = RemoteCrypto::randomSecret(32);
    QVERIFY(secret);
    QCOMPARE(secret->size(), 32);
}

void TestRemoteCrypto::keyMaterialNeverPrintsItsBytes()
{
    const SecretBytes secret(QByteArray(32, '\x41'));
    const ContentKey key = *ContentKey::fromBytes(QByteArray(32, '\x42'));
    QString printed;
    QDebug(&printed) << key << secret;
    QVERIFY2(!printed.contains(QLatin1String("AAAA")) && !printed.contains(QLatin1String("4141"))
            && !printed.contains(QLatin1String("BBBB")) && !printed.contains(QLatin1String("4242")),
        qPrintable(printed));
    QVERIFY(printed.contains(QLatin1String("redacted")));
    QVERIFY(!ContentKey::fromBytes(QByteArray(31, '\0')));
    QVERIFY(!ContentKey::fromBytes(QByteArray(33, '\0')));
}

QTEST_GUILESS_MAIN(TestRemoteCrypto)
#include "TestRemoteCrypto.moc"
