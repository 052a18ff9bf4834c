#include "remotekit/Envelope.h"
#include "remotekit/PeerMessage.h"
#include "remotekit/Snapshot.h"
#include "remotekit/WireEnums.h"

#include "TestEnvironment.h"

#include <QTest>

#include <memory>

using namespace Wardlamp;

Q_DECLARE_METATYPE(Wardlamp::PeerMessage)
Q_DECLARE_METATYPE(Wardlamp::Envelope)

namespace {

const QUuid apiId = QUuid::fromString(QLatin1String("6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B"));
const QUuid lineId = QUuid::fromString(QLatin1String("C3A1B2D4-E5F6-4711-8899-AABBCCDDEEFF"));

WireServer fullServer()
{
    WireServer server;
    server.id = apiId;
    server.name = QStringLiteral("api");
    server.command = QStringLiteral("bun server.js");
    server.directory = QStringLiteral("/srv/api");
    server.tunnelHostname = QStringLiteral("api.example.test");
    server.status = WireStatus::running;
    server.hasError = true;
    server.pid = 4242;
    server.startedAt = WireTime { 1733700000123.25 };
    server.lastExitCode = -1;
    return server;
}

QByteArray encoded(const PeerMessage& message)
{
    return message.encode().value_or(QByteArray("<encode failed>"));
}

} // namespace

namespace QTest {
template <> char* toString(const PeerMessage& message)
{
    return qstrdup(message.encode().value_or(QByteArray("<unencodable>")).constData());
}
template <> char* toString(const Envelope& envelope)
{
    return qstrdup(envelope.encode().constData());
}
} // namespace QTest

class TestWireCodec : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    void rawValuesConvertBothWays();
    void rawValuesAreCaseSensitive_data();
    void rawValuesAreCaseSensitive();
    void notifyKindListsEveryCase();

    void constructorsWriteExactlyTheirFields_data();
    void constructorsWriteExactlyTheirFields();

    void decodesGoodMessages_data();
    void decodesGoodMessages();
    void rejectsHostileMessages_data();
    void rejectsHostileMessages();

    void timestampsAreMillisecondsWithFractions_data();
    void timestampsAreMillisecondsWithFractions();
    void fullSnapshotRoundTrips();
    void controlCharactersAreEscapedAndRoundTrip();
    void loneSurrogateIsWrittenAsReplacementCharacter();
    void nonFiniteTimestampFailsToEncode();

    void envelopeEncodesExactly_data();
    void envelopeEncodesExactly();
    void decodesGoodEnvelopes_data();
    void decodesGoodEnvelopes();
    void rejectsHostileEnvelopes_data();
    void rejectsHostileEnvelopes();

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

void TestWireCodec::rawValuesConvertBothWays()
{
    const auto check = [](auto value, const char* raw) {
        using Enum = decltype(value);
        QCOMPARE(rawValue(value), QLatin1String(raw));
        QCOMPARE(fromRawValue<Enum>(QString::fromLatin1(raw)), std::optional<Enum>(value));
    };
    check(PeerRole::agent, "agent");
    check(PeerRole::controller, "controller");
    check(WireStatus::stopped, "stopped");
    check(WireStatus::running, "running");
    check(WireStatus::error, "error");
    check(CommandAction::start, "start");
    check(CommandAction::stop, "stop");
    check(CommandAction::restart, "restart");
    check(CommandAction::clearLogs, "clearLogs");
    check(NotifyKind::error, "error");
    check(NotifyKind::crash, "crash");
    check(NotifyKind::restart, "restart");
    check(Envelope::Kind::welcome, "welcome");
    check(Envelope::Kind::peerJoin, "peerJoin");
    check(Envelope::Kind::peerLeave, "peerLeave");
    check(Envelope::Kind::msg, "msg");
    check(Envelope::Kind::ping, "ping");
    check(Envelope::Kind::pong, "pong");
    check(Envelope::Kind::registerDevice, "register-device");
    check(PeerMessage::MessageType::snapshot, "snapshot");
    check(PeerMessage::MessageType::logAppend, "logAppend");
    check(PeerMessage::MessageType::statusChange, "statusChange");
    check(PeerMessage::MessageType::commandAck, "commandAck");
    check(PeerMessage::MessageType::notify, "notify");
    check(PeerMessage::MessageType::requestSnapshot, "requestSnapshot");
    check(PeerMessage::MessageType::subscribeLogs, "subscribeLogs");
    check(PeerMessage::MessageType::command, "command");
}

void TestWireCodec::rawValuesAreCaseSensitive_data()
{
    QTest::addColumn<QString>("raw");
    QTest::newRow("registerDevice is not the raw value") << QStringLiteral("registerDevice");
    QTest::newRow("upper case") << QStringLiteral("MSG");
    QTest::newRow("capitalised") << QStringLiteral("Msg");
    QTest::newRow("trailing space") << QStringLiteral("msg ");
    QTest::newRow("empty") << QString();
}

void TestWireCodec::rawValuesAreCaseSensitive()
{
    QFETCH(QString, raw);
    QVERIFY(!fromRawValue<Envelope::Kind>(raw));
    QVERIFY(!fromRawValue<PeerRole>(raw.toUpper()));
    QVERIFY(!fromRawValue<WireStatus>(QStringLiteral("Running")));
    QVERIFY(!fromRawValue<CommandAction>(QStringLiteral("clearlogs")));
    QVERIFY(!fromRawValue<PeerMessage::MessageType>(QStringLiteral("LogAppend")));
}

void TestWireCodec::notifyKindListsEveryCase()
{
    QCOMPARE(allNotifyKinds.size(), 3u);
    QCOMPARE(allNotifyKinds[0], NotifyKind::error);
    QCOMPARE(allNotifyKinds[1], NotifyKind::crash);
    QCOMPARE(allNotifyKinds[2], NotifyKind::restart);
}

void TestWireCodec::constructorsWriteExactlyTheirFields_data()
{
    QTest::addColumn<PeerMessage>("message");
    QTest::addColumn<QByteArray>("json");
    const QByteArray id = "\"6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B\"";
    const QUuid lowerId = QUuid::fromString(QLatin1String("6f1c2e4a-9b3d-4e5f-8a7b-1c2d3e4f5a6b"));

    QTest::newRow("snapshot") << PeerMessage::snapshot(Snapshot { QStringLiteral("Studio"), {},
        WireTime {
            0 } }) << QByteArray(R"({"type":"snapshot","snapshot":{"macName":"Studio","servers":[],"generatedAt":0}})");
    QTest::newRow("requestSnapshot") << PeerMessage::requestSnapshot() << QByteArray(R"({"type":"requestSnapshot"})");
    QTest::newRow("commandAck without message") << PeerMessage::commandAck(apiId, CommandAction::restart,
        true) << QByteArray(R"({"type":"commandAck","serverId":)" + id + R"(,"action":"restart","ok":true})");
    QTest::newRow("commandAck with message")
        << PeerMessage::commandAck(apiId, CommandAction::clearLogs, false, QStringLiteral("not found"))
        << QByteArray(R"({"type":"commandAck","serverId":)" + id
               + R"(,"action":"clearLogs","ok":false,"message":"not found"})");
    QTest::newRow("subscribeLogs without server")
        << PeerMessage::subscribeLogs() << QByteArray(R"({"type":"subscribeLogs"})");
    QTest::newRow("subscribeLogs with server, upper-cased")
        << PeerMessage::subscribeLogs(lowerId) << QByteArray(R"({"type":"subscribeLogs","serverId":)" + id + "}");
    QTest::newRow("statusChange") << PeerMessage::statusChange(apiId, WireStatus::error,
        true) << QByteArray(R"({"type":"statusChange","serverId":)" + id + R"(,"status":"error","hasError":true})");
    QTest::newRow("notify") << PeerMessage::notify(apiId, QStringLiteral("api crashed"))
                            << QByteArray(R"({"type":"notify","serverId":)" + id + R"(,"message":"api crashed"})");
    QTest::newRow("command") << PeerMessage::command(apiId, CommandAction::stop)
                             << QByteArray(R"({"type":"command","serverId":)" + id + R"(,"action":"stop"})");
    QTest::newRow("logAppend")
        << PeerMessage::logAppend(apiId, { WireLogLine { lineId, WireTime { 1500.5 }, QStringLiteral("a/b"), true } })
        << QByteArray(R"({"type":"logAppend","serverId":)" + id
               + R"(,"lines":[{"id":"C3A1B2D4-E5F6-4711-8899-AABBCCDDEEFF","date":1500.5,"text":"a/b","isError":true}]})");
}

void TestWireCodec::constructorsWriteExactlyTheirFields()
{
    QFETCH(PeerMessage, message);
    QFETCH(QByteArray, json);
    QCOMPARE(encoded(message), json);
    QCOMPARE(PeerMessage::decode(json), std::optional<PeerMessage>(message));
}

void TestWireCodec::decodesGoodMessages_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<PeerMessage>("expected");

    QTest::newRow("null serverId reads as absent")
        << QByteArray(R"({"type":"subscribeLogs","serverId":null})") << PeerMessage::subscribeLogs();
    QTest::newRow("lower-case UUID") << QByteArray(
        R"({"type":"command","serverId":"6f1c2e4a-9b3d-4e5f-8a7b-1c2d3e4f5a6b","action":"stop"})")
                                     << PeerMessage::command(apiId, CommandAction::stop);
    QTest::newRow("mixed-case UUID") << QByteArray(
        R"({"type":"command","serverId":"6f1C2E4a-9b3d-4E5F-8a7b-1c2d3e4f5a6B","action":"start"})")
                                     << PeerMessage::command(apiId, CommandAction::start);
    QTest::newRow("unknown keys at every level, nested deeply")
        << QByteArray(R"({"x":{"y":[1,{"z":null}]},"type":"requestSnapshot","extra":[[[[]]]],"n":-1.5e-3})")
        << PeerMessage::requestSnapshot();
    QTest::newRow("white space, escaped slash and unicode escapes")
        << QByteArray(" \r\n\t{ \"type\" : \"notify\" , \"serverId\" : \"6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B\","
                      " \"message\" : \"a\\/b \\u00e9\\ud83d\\udd11\\u0000\" } \n")
        << PeerMessage::notify(apiId, QString::fromUtf8("a/b \xc3\xa9\xf0\x9f\x94\x91") + QChar(0));
    QTest::newRow("unknown value nested 500 deep")
        << QByteArray(R"({"x":)") + QByteArray(500, '[') + QByteArray(500, ']') + R"(,"type":"requestSnapshot"})"
        << PeerMessage::requestSnapshot();
    QTest::newRow("keys spelled with escapes") << QByteArray(
        R"({"\u0074ype":"command","serverId":"6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B","act\u0069on":"stop","\u00e9":1,"\u00e8":2})")
                                               << PeerMessage::command(apiId, CommandAction::stop);
    QTest::newRow("fields of other types are read too")
        << QByteArray(R"({"type":"requestSnapshot","ok":true,"action":"start"})") << [] {
               PeerMessage m = PeerMessage::requestSnapshot();
               m.ok = true;
               m.action = CommandAction::start;
               return m;
           }();

    Snapshot limits { QString(), {}, WireTime { 1733700000000 } };
    WireServer server;
    server.id = apiId;
    server.status = WireStatus::stopped;
    server.pid = 2147483647;
    server.lastExitCode = -2147483647 - 1;
    limits.servers = { server };
    QTest::newRow("Int32 limits") << QByteArray(
        R"({"type":"snapshot","snapshot":{"macName":"","servers":[{"id":"6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B","name":"","command":"","status":"stopped","hasError":false,"pid":2147483647,"lastExitCode":-2147483648}],"generatedAt":1733700000000}})")
                                  << PeerMessage::snapshot(limits);
    WireServer whole = server;
    whole.pid = 4242;
    whole.lastExitCode = 100;
    QTest::newRow("whole numbers written with a fraction or exponent") << QByteArray(
        R"({"type":"snapshot","snapshot":{"macName":"","servers":[{"id":"6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B","name":"","command":"","status":"stopped","hasError":false,"pid":4242.0,"lastExitCode":1e2,"startedAt":null,"directory":null}],"generatedAt":1733700000000}})")
                                                                       << PeerMessage::snapshot(Snapshot { QString(),
                                                                              { whole }, WireTime { 1733700000000 } });
}

void TestWireCodec::decodesGoodMessages()
{
    QFETCH(QByteArray, json);
    QFETCH(PeerMessage, expected);
    QCOMPARE(PeerMessage::decode(json), std::optional<PeerMessage>(expected));
}

void TestWireCodec::rejectsHostileMessages_data()
{
    QTest::addColumn<QByteArray>("json");
    const QByteArray server
        = R"({"id":"6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B","name":"a","command":"b","status":"running","hasError":false)";
    const auto snapshotWith = [&](const QByteArray& serverTail) {
        return QByteArray(R"({"type":"snapshot","snapshot":{"macName":"m","servers":[)" + server + serverTail
            + R"(}],"generatedAt":0}})");
    };
    // The control row: the same snapshot decodes when nothing is wrong with it.
    QVERIFY(PeerMessage::decode(snapshotWith("")));

    QTest::newRow("unknown type") << QByteArray(R"({"type":"hello"})");
    QTest::newRow("type in another case") << QByteArray(R"({"type":"RequestSnapshot"})");
    QTest::newRow("missing type") << QByteArray(R"({"serverId":"6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B"})");
    QTest::newRow("type null") << QByteArray(R"({"type":null})");
    QTest::newRow("type not a string") << QByteArray(R"({"type":1})");
    QTest::newRow("status outside the enumeration fails the snapshot") << snapshotWith(R"(,"status":"paused")");
    QTest::newRow("pid above Int32") << snapshotWith(R"(,"pid":2147483648)");
    QTest::newRow("lastExitCode below Int32") << snapshotWith(R"(,"lastExitCode":-2147483649)");
    QTest::newRow("pid with a fraction") << snapshotWith(R"(,"pid":1.5)");
    QTest::newRow("pid as text") << snapshotWith(R"(,"pid":"42")");
    QTest::newRow("pid beyond 2^64") << snapshotWith(R"(,"pid":18446744073709551617)");
    QTest::newRow("hasError as number") << snapshotWith(R"(,"hasError":1)");
    QTest::newRow("startedAt as text") << snapshotWith(R"(,"startedAt":"2024-01-01")");
    QTest::newRow("startedAt overflowing a double") << snapshotWith(R"(,"startedAt":1e400)");
    QTest::newRow("required macName null")
        << QByteArray(R"({"type":"snapshot","snapshot":{"macName":null,"servers":[],"generatedAt":0}})");
    QTest::newRow("required servers missing")
        << QByteArray(R"({"type":"snapshot","snapshot":{"macName":"m","generatedAt":0}})");
    QTest::newRow("servers not an array")
        << QByteArray(R"({"type":"snapshot","snapshot":{"macName":"m","servers":{},"generatedAt":0}})");
    QTest::newRow("log line without isError") << QByteArray(
        R"({"type":"logAppend","lines":[{"id":"6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B","date":1,"text":"x"}]})");
    QTest::newRow("serverId in braces") << QByteArray(
        R"({"type":"command","serverId":"{6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B}"})");
    QTest::newRow("serverId without dashes")
        << QByteArray(R"({"type":"command","serverId":"6F1C2E4A9B3D4E5F8A7B1C2D3E4F5A6B"})");
    QTest::newRow("serverId with a non-hex digit")
        << QByteArray(R"({"type":"command","serverId":"6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6G"})");
    QTest::newRow("serverId with surrounding space")
        << QByteArray(R"({"type":"command","serverId":" 6F1C2E4A-9B3D-4E5F-8A7B-1C2D3E4F5A6B"})");
    QTest::newRow("serverId a number") << QByteArray(R"({"type":"command","serverId":7})");
    QTest::newRow("action outside the enumeration") << QByteArray(R"({"type":"command","action":"kill"})");
    QTest::newRow("a JSON array") << QByteArray(R"([{"type":"requestSnapshot"}])");
    QTest::newRow("a JSON string") << QByteArray(R"("requestSnapshot")");
    QTest::newRow("empty input") << QByteArray();
    QTest::newRow("only white space") << QByteArray(" \n");
    QTest::newRow("trailing garbage") << QByteArray(R"({"type":"requestSnapshot"}x)");
    QTest::newRow("two documents") << QByteArray(R"({"type":"requestSnapshot"}{})");
    QTest::newRow("trailing comma") << QByteArray(R"({"type":"requestSnapshot",})");
    QTest::newRow("duplicate key") << QByteArray(R"({"type":"requestSnapshot","type":"command"})");
    QTest::newRow("duplicate key, one spelled with an escape")
        << QByteArray(R"({"type":"requestSnapshot","\u0074ype":"command"})");
    QTest::newRow("duplicate non-ASCII key")
        << QByteArray("{\"type\":\"requestSnapshot\",\"\xc3\xa9\":1,\"\\u00e9\":2}");
    QTest::newRow("duplicate unknown key among many")
        << QByteArray(R"({"type":"requestSnapshot","a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"i":9,"a":0})");
    QTest::newRow("raw NUL inside a string") << QByteArray("{\"type\":\"notify\",\"message\":\"a\0b\"}", 31);
    QTest::newRow("raw ESC inside a string") << QByteArray("{\"type\":\"notify\",\"message\":\"\x1b[31m\"}");
    QTest::newRow("raw line feed inside a string") << QByteArray("{\"type\":\"notify\",\"message\":\"a\nb\"}");
    QTest::newRow("lone high surrogate escape") << QByteArray(R"({"type":"notify","message":"\ud800"})");
    QTest::newRow("lone low surrogate escape") << QByteArray(R"({"type":"notify","message":"\udc00x"})");
    QTest::newRow("high surrogate then non-surrogate") << QByteArray(R"({"type":"notify","message":"\ud800\u0041"})");
    QTest::newRow("bad escape") << QByteArray(R"({"type":"notify","message":"\x41"})");
    QTest::newRow("short unicode escape") << QByteArray(R"({"type":"notify","message":"\u41"})");
    QTest::newRow("invalid UTF-8 byte") << QByteArray("{\"type\":\"notify\",\"message\":\"\xff\"}");
    QTest::newRow("overlong UTF-8 slash") << QByteArray("{\"type\":\"notify\",\"message\":\"\xc0\xaf\"}");
    QTest::newRow("UTF-8 encoded surrogate") << QByteArray("{\"type\":\"notify\",\"message\":\"\xed\xa0\x80\"}");
    QTest::newRow("UTF-8 beyond U+10FFFF") << QByteArray("{\"type\":\"notify\",\"message\":\"\xf4\x90\x80\x80\"}");
    QTest::newRow("truncated UTF-8") << QByteArray("{\"type\":\"notify\",\"message\":\"\xe2\x82\"}");
    QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbf{\"type\":\"requestSnapshot\"}");
    QTest::newRow("leading zero") << QByteArray(R"({"type":"requestSnapshot","x":01})");
    QTest::newRow("NaN literal") << QByteArray(R"({"type":"requestSnapshot","x":NaN})");
    QTest::newRow("Infinity literal") << QByteArray(R"({"type":"requestSnapshot","x":-Infinity})");
    QTest::newRow("plus sign") << QByteArray(R"({"type":"requestSnapshot","x":+1})");
    QTest::newRow("bare fraction") << QByteArray(R"({"type":"requestSnapshot","x":.5})");
    QTest::newRow("exponent without digits") << QByteArray(R"({"type":"requestSnapshot","x":1e})");
    QTest::newRow("comment") << QByteArray("{\"type\":\"requestSnapshot\"/* c */}");
    QTest::newRow("single quotes") << QByteArray("{'type':'requestSnapshot'}");
    QTest::newRow("unquoted key") << QByteArray("{type:\"requestSnapshot\"}");
    QTest::newRow("truncated") << QByteArray(R"({"type":"requestSnapshot")");
    QTest::newRow("misspelled literal") << QByteArray(R"({"type":"requestSnapshot","x":tru})");
    QTest::newRow("nesting 600 deep") << QByteArray(R"({"type":"requestSnapshot","x":)") + QByteArray(600, '[')
            + QByteArray(600, ']') + "}";
    QTest::newRow("nesting 100000 deep, unbalanced") << QByteArray(100000, '[');
}

void TestWireCodec::rejectsHostileMessages()
{
    QFETCH(QByteArray, json);
    QCOMPARE(PeerMessage::decode(json), std::optional<PeerMessage>());
}

void TestWireCodec::timestampsAreMillisecondsWithFractions_data()
{
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<double>("ms");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("epoch") << QByteArray("0") << 0.0 << QByteArray("0");
    QTest::newRow("1500.5 is 1.5005 s") << QByteArray("1500.5") << 1500.5 << QByteArray("1500.5");
    QTest::newRow("exponent form") << QByteArray("1.7337e12") << 1733700000000.0 << QByteArray("1733700000000");
    QTest::newRow("negative, before 1970") << QByteArray("-86400000.25") << -86400000.25 << QByteArray("-86400000.25");
    QTest::newRow("integer beyond 2^53") << QByteArray("9007199254740993") << 9007199254740992.0
                                         << QByteArray("9007199254740992");
}

void TestWireCodec::timestampsAreMillisecondsWithFractions()
{
    QFETCH(QByteArray, date);
    QFETCH(double, ms);
    QFETCH(QByteArray, written);
    const QByteArray json = R"({"type":"logAppend","lines":[{"id":"C3A1B2D4-E5F6-4711-8899-AABBCCDDEEFF","date":)"
        + date + R"(,"text":"","isError":false}]})";
    const std::optional<PeerMessage> message = PeerMessage::decode(json);
    QVERIFY(message && message->lines && message->lines->size() == 1);
    QCOMPARE(message->lines->at(0).date.msSinceEpoch, ms);
    QVERIFY(encoded(*message).contains(QByteArray(R"("date":)" + written + ",")));
    if (ms == 1500.5)
        QCOMPARE(message->lines->at(0).date.toDateTime(),
            QDateTime::fromMSecsSinceEpoch(1501, Qt::UTC)); // rounded to the millisecond
    if (ms == 0)
        QCOMPARE(message->lines->at(0).date.toDateTime(), QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC));
}

void TestWireCodec::fullSnapshotRoundTrips()
{
    WireServer bare;
    bare.id = QUuid::createUuid();
    bare.name = QStringLiteral("web");
    bare.command = QStringLiteral("npm run dev");
    Snapshot snapshot { QString::fromUtf8("Jörg’s box"), { fullServer(), bare }, WireTime { 1733700001000.5 } };
    const PeerMessage message = PeerMessage::snapshot(snapshot);
    const QByteArray json = encoded(message);
    QVERIFY(!json.contains("null"));
    QVERIFY(!json.contains("\"pid\":null"));
    QCOMPARE(PeerMessage::decode(json), std::optional<PeerMessage>(message));
    QCOMPARE(Snapshot::decode(snapshot.encode().value()), std::optional<Snapshot>(snapshot));
    QCOMPARE(WireServer::decode(bare.encode().value()), std::optional<WireServer>(bare));
    // Absent optionals are left out, not written as null.
    const QByteArray bareJson = bare.encode().value();
    for (const char* key : { "directory", "tunnelHostname", "pid", "startedAt", "lastExitCode" })
        QVERIFY2(!bareJson.contains(key), key);
}

void TestWireCodec::controlCharactersAreEscapedAndRoundTrip()
{
    QString text = QStringLiteral("\x1b[31mred\x1b[0m tab\t cr\r bell\a del\x7f nel") + QChar(0x85)
        + QStringLiteral(" ls") + QChar(0x2028) + QStringLiteral(" quote\" backslash\\ ") + QChar(0)
        + QStringLiteral("end");
    text += QString::fromUtf8(" \xf0\x9f\x94\xa5 \xe2\x96\xb6\xef\xb8\x8e");
    QString all;
    for (char16_t c = 0; c < 0x20; ++c)
        all += QChar(c);
    text += all;
    const PeerMessage message = PeerMessage::logAppend(apiId, { WireLogLine { lineId, WireTime { 1 }, text, true } });
    const QByteArray json = encoded(message);
    for (char c : json)
        QVERIFY2(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f, "raw control byte in output");
    QVERIFY(!json.contains("\xc2\x85")); // C1 control escaped, not written raw
    QVERIFY(json.contains("\\u001b[31m"));
    QVERIFY(json.contains("\\u0000"));
    QVERIFY(json.contains("\\u2028"));
    QCOMPARE(PeerMessage::decode(json), std::optional<PeerMessage>(message));
}

void TestWireCodec::loneSurrogateIsWrittenAsReplacementCharacter()
{
    // A QString may hold half a surrogate pair; writing it as "\ud800" would
    // produce a message that no strict reader (ours included) accepts.
    const QString text = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b") + QChar(0xDC00);
    const QByteArray json = encoded(PeerMessage::notify(apiId, text));
    QVERIFY(json.contains("\"a\xef\xbf\xbd"
                          "b\xef\xbf\xbd\""));
    const std::optional<PeerMessage> decoded = PeerMessage::decode(json);
    QVERIFY(decoded);
    QCOMPARE(decoded->message, std::optional<QString>(QStringLiteral("a\uFFFDb\uFFFD")));
}

void TestWireCodec::nonFiniteTimestampFailsToEncode()
{
    PeerMessage message = PeerMessage::snapshot(Snapshot { QStringLiteral("m"), {}, WireTime { qInf() } });
    QVERIFY(!message.encode());
    message.snapshotRecord->generatedAt = WireTime { qQNaN() };
    QVERIFY(!message.encode());
}

void TestWireCodec::envelopeEncodesExactly_data()
{
    QTest::addColumn<Envelope>("envelope");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("snapshot message") << Envelope::message(PeerRole::agent, QStringLiteral("AAAA"),
        true) << QByteArray(R"({"v":1,"kind":"msg","role":"agent","payload":"AAAA","cache":true})");
    QTest::newRow("plain message") << Envelope::message(PeerRole::agent, QStringLiteral("AA+/"))
                                   << QByteArray(R"({"v":1,"kind":"msg","role":"agent","payload":"AA+/"})");
    QTest::newRow("notify message")
        << Envelope::message(
               PeerRole::agent, QStringLiteral("AAAA"), false, QStringLiteral("d407a909daac15c0acd1a05b88c0042f"))
        << QByteArray(
               R"({"v":1,"kind":"msg","role":"agent","payload":"AAAA","tag":"d407a909daac15c0acd1a05b88c0042f","notify":true})");
    Envelope registration;
    registration.kind = Envelope::Kind::registerDevice;
    registration.deviceToken = QStringLiteral("tok");
    registration.tags = QStringList { QStringLiteral("a"), QStringLiteral("b") };
    registration.online = false;
    QTest::newRow("register-device")
        << registration
        << QByteArray(R"({"v":1,"kind":"register-device","online":false,"deviceToken":"tok","tags":["a","b"]})");
    Envelope census;
    census.kind = Envelope::Kind::welcome;
    census.role = PeerRole::agent;
    census.online = true;
    census.controllers = 2;
    QTest::newRow("welcome with a controller census")
        << census << QByteArray(R"({"v":1,"kind":"welcome","role":"agent","online":true,"controllers":2})");
}

void TestWireCodec::envelopeEncodesExactly()
{
    QFETCH(Envelope, envelope);
    QFETCH(QByteArray, json);
    QCOMPARE(envelope.encode(), json);
    QCOMPARE(Envelope::decode(json), std::optional<Envelope>(envelope));
}

void TestWireCodec::decodesGoodEnvelopes_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<Envelope>("expected");
    Envelope welcome;
    welcome.kind = Envelope::Kind::welcome;
    welcome.online = true;
    QTest::newRow("nulls and unknown keys")
        << QByteArray(R"({"kind":"welcome","v":1,"role":null,"online":true,"room":"x","payload":null})") << welcome;
    Envelope future = welcome;
    future.v = 7;
    future.online.reset();
    QTest::newRow("another version is not checked") << QByteArray(R"({"v":7,"kind":"welcome"})") << future;
    Envelope join;
    join.kind = Envelope::Kind::peerJoin;
    join.role = PeerRole::controller;
    QTest::newRow("peerJoin") << QByteArray(R"({"v":1,"kind":"peerJoin","role":"controller"})") << join;
    // A census that is not a count is left out; the envelope itself still counts.
    Envelope uncounted;
    uncounted.kind = Envelope::Kind::welcome;
    for (const char* census : { R"("2")", "-1", "1.5", "[1]", "null" }) {
        QTest::addRow("census %s read as absent", census)
            << (QByteArray(R"({"v":1,"kind":"welcome","controllers":)") + census + "}") << uncounted;
    }
}

void TestWireCodec::decodesGoodEnvelopes()
{
    QFETCH(QByteArray, json);
    QFETCH(Envelope, expected);
    QCOMPARE(Envelope::decode(json), std::optional<Envelope>(expected));
}

void TestWireCodec::rejectsHostileEnvelopes_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("missing v") << QByteArray(R"({"kind":"msg","payload":"AAAA"})");
    QTest::newRow("missing kind") << QByteArray(R"({"v":1})");
    QTest::newRow("v null") << QByteArray(R"({"v":null,"kind":"msg"})");
    QTest::newRow("v as text") << QByteArray(R"({"v":"1","kind":"msg"})");
    QTest::newRow("v with a fraction") << QByteArray(R"({"v":1.5,"kind":"msg"})");
    QTest::newRow("v beyond 64 bits") << QByteArray(R"({"v":9223372036854775808,"kind":"msg"})");
    QTest::newRow("kind registerDevice") << QByteArray(R"({"v":1,"kind":"registerDevice"})");
    QTest::newRow("role outside the enumeration") << QByteArray(R"({"v":1,"kind":"peerJoin","role":"phone"})");
    QTest::newRow("payload not a string") << QByteArray(R"({"v":1,"kind":"msg","payload":42})");
    QTest::newRow("cache not a boolean") << QByteArray(R"({"v":1,"kind":"msg","cache":"true"})");
    QTest::newRow("tags with a number") << QByteArray(R"({"v":1,"kind":"register-device","tags":["a",1]})");
    QTest::newRow("a JSON array") << QByteArray(R"([{"v":1,"kind":"msg"}])");
    QTest::newRow("random binary frame") << QByteArray("\x00\x01\xfe\xff\x7b", 5);
    QTest::newRow("duplicate kind") << QByteArray(R"({"v":1,"kind":"ping","kind":"msg"})");
}

void TestWireCodec::rejectsHostileEnvelopes()
{
    QFETCH(QByteArray, json);
    QCOMPARE(Envelope::decode(json), std::optional<Envelope>());
}

QTEST_GUILESS_MAIN(TestWireCodec)
#include "TestWireCodec.moc"
