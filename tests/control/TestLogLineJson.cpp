#include "TestEnvironment.h"

#include "control/LogLineJson.h"
#include "supervision/LineBatch.h"
#include "supervision/LogRing.h"

#include <QJsonDocument>
#include <QTest>
#include <QTimeZone>

#include <limits>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

class TestLogLineJson : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Wardlamp::Test::TestEnvironment>(); }

    // Whatever a server writes reads back the same after the hand-written encoding.
    void textRoundTrips_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("plain") << QByteArray("GET /api 200");
        QTest::newRow("quotes and backslashes") << QByteArray(R"(say "hi" \ C:\path\)");
        QByteArray controls;
        for (int c = 1; c < 0x20; ++c)
            controls.append(char(c));
        controls.append('\x7f');
        QTest::newRow("every control character") << controls;
        QTest::newRow("escape sequences") << QByteArray("\x1b[31mError\x1b[0m");
        QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x9a\x80");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("nul") << QByteArray("a\0b", 3);
        // Texts read 16 bytes at a time: escapes at either end of a block,
        // texts made of nothing else (six bytes out for each in), UTF-8 across
        // block ends.
        QTest::newRow("escapes at block edges")
            << (QByteArray(15, 'a') + '"' + QByteArray(15, 'b') + '\\' + '\n' + QByteArray(14, 'c') + '\t');
        QTest::newRow("only escapes, long") << QByteArray(4000, '\x01');
        QTest::newRow("only quotes, long") << QByteArray(4000, '"');
        QTest::newRow("utf-8 across blocks") << QByteArray("caf\xc3\xa9 ").repeated(40);
    }

    void textRoundTrips()
    {
        QFETCH(QByteArray, text);
        CapturedLine lines[] = { { 7, text, true }, { 8, QByteArrayView("next"), false } };
        LineBatch batch { QDateTime::fromMSecsSinceEpoch(1'700'000'000'123), lines };
        const QByteArray json = LogLineJson::encode(batch);
        QVERIFY(!json.contains('\n'));
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(json, &error);
        QVERIFY2(error.error == QJsonParseError::NoError,
            qPrintable(error.errorString() + u": "_s + QString::fromUtf8(json)));
        const auto decoded = LogLineJson::decode(document.object());
        QVERIFY(decoded);
        QCOMPARE(decoded->size(), 2);
        QCOMPARE(decoded->at(0), (LogLineJson::Line { 7, 1'700'000'000'123, true, QString::fromUtf8(text) }));
        QCOMPARE(decoded->at(1).text, u"next"_s);
    }

    // The bytes of the escapes, and an array that held a longer batch
    // written over with a shorter one: nothing of the old one is left.
    void exactBytesInAUsedArray()
    {
        const QDateTime date = QDateTime::fromMSecsSinceEpoch(5, QTimeZone::utc());
        // Escapes in and across 16-byte blocks, and their exact JSON.
        const QByteArray piece = "a\"\\\n\r\t\x01\x1f\x7f\xc3\xa9";
        const QByteArray escapedPiece = "a\\\"\\\\\\n\\r\\t\\u0001\\u001f\x7f\xc3\xa9";
        const QByteArray text = piece + QByteArray(16, 'p') + piece + QByteArray(5, 'q');
        const QByteArray expected = "{\"lines\":[{\"seq\":1,\"time\":5,\"error\":false,\"text\":\"" + escapedPiece
            + QByteArray(16, 'p') + escapedPiece + QByteArray(5, 'q') + "\"}]}";
        const QByteArray tenThousand(10000, 'x');
        CapturedLine longer[] = { { 1, QByteArrayView(tenThousand), true } };
        CapturedLine escaped[] = { { 1, QByteArrayView(text), false } };
        QByteArray used;
        LogLineJson::encode(LineBatch { date, longer }, used);
        QVERIFY(used.size() > 10000);
        LogLineJson::encode(LineBatch { date, escaped }, used);
        QCOMPARE(used, expected);
        QCOMPARE(LogLineJson::encode(LineBatch { date, escaped }), expected);
    }

    // Numbers are written digit for digit, at their extremes too.
    void numbersAreExact_data()
    {
        QTest::addColumn<quint64>("seq");
        QTest::addColumn<qint64>("msecs");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("zero") << quint64(0) << qint64(0) << QByteArray(R"({"seq":0,"time":0,)");
        QTest::newRow("before 1970") << quint64(1) << qint64(-1) << QByteArray(R"({"seq":1,"time":-1,)");
        QTest::newRow("largest seq") << std::numeric_limits<quint64>::max() << qint64(1'700'000'000'123)
                                     << QByteArray(R"({"seq":18446744073709551615,"time":1700000000123,)");
        QTest::newRow("year 9999") << quint64(42) << qint64(253'402'300'799'999)
                                   << QByteArray(R"({"seq":42,"time":253402300799999,)");
    }

    void numbersAreExact()
    {
        QFETCH(quint64, seq);
        QFETCH(qint64, msecs);
        QFETCH(QByteArray, expected);
        CapturedLine lines[] = { { seq, QByteArrayView("x"), false }, { seq, QByteArrayView("y"), false } };
        const QByteArray json
            = LogLineJson::encode(LineBatch { QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc()), lines });
        QCOMPARE(json.count(expected), 2);
    }

    // A log's newest lines, within a count and a byte budget.
    void newestLinesOfALog()
    {
        LogRing log(QUuid::createUuid(), 10);
        for (int i = 1; i <= 10; ++i)
            log.append(QByteArray(100, char('a' + i % 26)), 1000 + i, i % 2 == 0, quint64(i));
        bool truncated = true;
        auto lines
            = LogLineJson::decode(QJsonDocument::fromJson(LogLineJson::encode(log, 3, 1 << 20, &truncated)).object());
        QVERIFY(lines);
        QCOMPARE(lines->size(), 3);
        QCOMPARE(lines->first().seq, 8u);
        QCOMPARE(lines->last().seq, 10u);
        QVERIFY(!truncated);
        lines = LogLineJson::decode(QJsonDocument::fromJson(LogLineJson::encode(log, 10, 250, &truncated)).object());
        QCOMPARE(lines->size(), 2); // 100 bytes each
        QVERIFY(truncated);
        lines = LogLineJson::decode(QJsonDocument::fromJson(LogLineJson::encode(log, 0, 1 << 20)).object());
        QCOMPARE(lines->size(), 0);
    }

    void malformedLinesAreRefused()
    {
        QCOMPARE(LogLineJson::decode(QJsonObject {}), std::nullopt);
        const auto bad = QJsonDocument::fromJson(R"({"lines":[{"seq":1,"time":2,"error":"no","text":"x"}]})");
        QCOMPARE(LogLineJson::decode(bad.object()), std::nullopt);
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestLogLineJson)
#include "TestLogLineJson.moc"
