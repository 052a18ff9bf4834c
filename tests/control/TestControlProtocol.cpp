#include "TestEnvironment.h"

#include "control/ControlProtocol.h"

#include <QJsonDocument>
#include <QTest>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(Wardlamp::ControlErrorCode)

class TestControlProtocol : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Wardlamp::Test::TestEnvironment>(); }

    void parseRequest_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<ControlErrorCode>("code");
        QTest::addColumn<QString>("verb");
        QTest::addColumn<QJsonValue>("id");

        const auto none = ControlErrorCode::failed;
        QTest::newRow("full") << QByteArray(R"({"v":1,"id":7,"verb":"ls","args":{"json":true}})") << true << none
                              << u"ls"_s << QJsonValue(7);
        QTest::newRow("string id") << QByteArray(R"({"v":1,"id":"a","verb":"ls"})") << true << none << u"ls"_s
                                   << QJsonValue(u"a"_s);
        QTest::newRow("no id, no args") << QByteArray(R"({"v":1,"verb":"ping"})") << true << none << u"ping"_s
                                        << QJsonValue();
        QTest::newRow("unknown keys ignored")
            << QByteArray(R"({"v":1,"verb":"ls","later":[1,2]})") << true << none << u"ls"_s << QJsonValue();
        QTest::newRow("not json") << QByteArray("ls --json") << false << ControlErrorCode::badRequest << QString()
                                  << QJsonValue();
        QTest::newRow("array") << QByteArray("[1,2]") << false << ControlErrorCode::badRequest << QString()
                               << QJsonValue();
        QTest::newRow("truncated") << QByteArray("{\"v\":1,\"verb\":\"l") << false << ControlErrorCode::badRequest
                                   << QString() << QJsonValue();
        QTest::newRow("no version") << QByteArray(R"({"id":3,"verb":"ls"})") << false << ControlErrorCode::badRequest
                                    << QString() << QJsonValue(3);
        QTest::newRow("version 2") << QByteArray(R"({"v":2,"id":3,"verb":"ls"})") << false
                                   << ControlErrorCode::unsupportedVersion << QString() << QJsonValue(3);
        QTest::newRow("version as text") << QByteArray(R"({"v":"1","verb":"ls"})") << false
                                         << ControlErrorCode::unsupportedVersion << QString() << QJsonValue();
        QTest::newRow("no verb") << QByteArray(R"({"v":1,"id":1})") << false << ControlErrorCode::badRequest
                                 << QString() << QJsonValue(1);
        QTest::newRow("empty verb") << QByteArray(R"({"v":1,"verb":""})") << false << ControlErrorCode::badRequest
                                    << QString() << QJsonValue();
        QTest::newRow("verb not text") << QByteArray(R"({"v":1,"verb":5})") << false << ControlErrorCode::badRequest
                                       << QString() << QJsonValue();
        QTest::newRow("args not an object") << QByteArray(R"({"v":1,"verb":"ls","args":[]})") << false
                                            << ControlErrorCode::badRequest << QString() << QJsonValue();
        QTest::newRow("id an object") << QByteArray(R"({"v":1,"verb":"ls","id":{}})") << false
                                      << ControlErrorCode::badRequest << QString() << QJsonValue();
        QTest::newRow("invalid utf-8") << QByteArray("{\"v\":1,\"verb\":\"l\xff\"}") << false
                                       << ControlErrorCode::badRequest << QString() << QJsonValue();
    }

    void parseRequest()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, valid);
        QFETCH(ControlErrorCode, code);
        QFETCH(QString, verb);
        QFETCH(QJsonValue, id);

        QJsonValue seenId;
        const auto request = ControlRequest::parse(line, &seenId);
        QCOMPARE(request.hasValue(), valid);
        QCOMPARE(seenId, id);
        if (valid) {
            QCOMPARE(request->verb, verb);
            QCOMPARE(request->id, id);
            // What a client writes reads back the same.
            const auto again = ControlRequest::parse(request->encode().trimmed());
            QVERIFY(again);
            QCOMPARE(again->verb, request->verb);
            QCOMPARE(again->args, request->args);
            QCOMPARE(again->id, request->id);
        } else {
            QCOMPARE(request.error().code, code);
            QVERIFY(!request.error().message.isEmpty());
        }
    }

    void messagesRoundTrip()
    {
        const QByteArray hello = ControlMessage::encodeHello({ u"wardlampd"_s, 4242, { 1 } });
        QVERIFY(hello.endsWith('\n'));
        QCOMPARE(hello.count('\n'), 1);
        auto parsed = ControlMessage::parse(hello.trimmed());
        QVERIFY(parsed);
        QCOMPARE(parsed->kind, ControlMessage::Kind::hello);
        QCOMPARE(parsed->hello.program, u"wardlampd"_s);
        QCOMPARE(parsed->hello.pid, 4242);
        QCOMPARE(parsed->hello.versions, QList<int> { 1 });

        parsed = ControlMessage::parse(ControlMessage::encodeReply(9, { { u"n"_s, 3 } }).trimmed());
        QVERIFY(parsed && parsed->kind == ControlMessage::Kind::reply && parsed->ok);
        QCOMPARE(parsed->id, QJsonValue(9));
        QCOMPARE(parsed->result.value(u"n"_s).toInt(), 3);

        parsed = ControlMessage::parse(
            ControlMessage::encodeError(u"x"_s, { ControlErrorCode::ambiguous, u"two \"api\"\nservers"_s }).trimmed());
        QVERIFY(parsed && parsed->kind == ControlMessage::Kind::reply && !parsed->ok);
        QCOMPARE(parsed->error.code, ControlErrorCode::ambiguous);
        QCOMPARE(parsed->error.message, u"two \"api\"\nservers"_s);

        // One encoded event shared by many calls keeps each call's id.
        const QByteArray body = QJsonDocument(QJsonObject { { u"lines"_s, 2 } }).toJson(QJsonDocument::Compact);
        for (const QJsonValue& id : { QJsonValue(1), QJsonValue(u"a\"b"_s), QJsonValue() }) {
            const QByteArray line = ControlMessage::encodeEvent(id, body);
            QCOMPARE(line.count('\n'), 1);
            parsed = ControlMessage::parse(line.trimmed());
            QVERIFY2(parsed, line.constData());
            QCOMPARE(parsed->kind, ControlMessage::Kind::event);
            QCOMPARE(parsed->id, id);
            QCOMPARE(parsed->event.value(u"lines"_s).toInt(), 2);
        }
    }

    void foreignMessagesAreNotOurs_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("no version") << QByteArray(R"({"ok":true})");
        QTest::newRow("other version") << QByteArray(R"({"v":2,"ok":true})");
        QTest::newRow("nothing to say") << QByteArray(R"({"v":1,"id":1})");
        QTest::newRow("not json") << QByteArray("hello");
    }

    void foreignMessagesAreNotOurs()
    {
        QFETCH(QByteArray, line);
        QCOMPARE(ControlMessage::parse(line).has_value(), false);
    }

    void errorNamesRoundTrip()
    {
        for (int i = 0; i <= int(ControlErrorCode::failed); ++i) {
            const auto code = ControlErrorCode(i);
            QCOMPARE(controlErrorFromName(controlErrorName(code)), std::optional(code));
        }
        QCOMPARE(controlErrorFromName(u"nonsense"_s), std::nullopt);
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestControlProtocol)
#include "TestControlProtocol.moc"
