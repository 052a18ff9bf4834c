#include "supervision/ServerConfig.h"

#include "TestEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using Wardlamp::ServerConfig;

namespace {

const QByteArray validId = "1B4E28BA-2FA1-11D2-883F-0016D3CCA427";

// Builds one record as raw JSON text from a valid base, so a row can replace a
// value with anything (including text that is not a valid value) or drop a key.
QByteArray record(
    std::initializer_list<std::pair<QByteArray, QByteArray>> changes = {}, std::initializer_list<QByteArray> drop = {})
{
    QList<std::pair<QByteArray, QByteArray>> fields {
        { "id", '"' + validId + '"' },
        { "name", "\"api\"" },
        { "command", "\"bun server.js\"" },
        { "autostart", "true" },
        { "errorAlertEnabled", "false" },
    };
    for (const auto& change : changes) {
        auto it = std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.first == change.first; });
        if (it != fields.end())
            it->second = change.second;
        else
            fields.append(change);
    }
    QByteArrayList parts;
    for (const auto& [key, value] : fields) {
        if (std::find(drop.begin(), drop.end(), key) == drop.end())
            parts.append('"' + key + "\":" + value);
    }
    return '{' + parts.join(',') + '}';
}

QByteArray list(std::initializer_list<QByteArray> records)
{
    return '[' + QByteArrayList(records).join(',') + ']';
}

ServerConfig sample()
{
    ServerConfig config;
    config.id = QUuid::fromString(u"1b4e28ba-2fa1-11d2-883f-0016d3cca427"_s);
    config.name = u"api"_s;
    config.command = u"bun server.js"_s;
    config.autostart = true;
    return config;
}

} // namespace

class TestServerConfig : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Wardlamp::Test::TestEnvironment>(); }

    void tunnelURL_data()
    {
        QTest::addColumn<std::optional<QString>>("hostname");
        QTest::addColumn<QString>("expected"); // empty: no address

        QTest::newRow("absent") << std::optional<QString> {} << QString();
        QTest::newRow("empty") << std::optional<QString> { u""_s } << QString();
        QTest::newRow("spaces only") << std::optional<QString> { u"   "_s } << QString();
        QTest::newRow("spaces and tabs only") << std::optional<QString> { u" \t \t"_s } << QString();
        QTest::newRow("bare host") << std::optional<QString> { u"tunnel.example.com"_s }
                                   << u"https://tunnel.example.com"_s;
        QTest::newRow("spaces around, one trailing slash")
            << std::optional<QString> { u"  app.example.com/ "_s } << u"https://app.example.com"_s;
        QTest::newRow("tabs around") << std::optional<QString> { u"\tapp.example.com\t"_s }
                                     << u"https://app.example.com"_s;
        QTest::newRow("http scheme") << std::optional<QString> { u"http://app.example.com"_s }
                                     << u"https://app.example.com"_s;
        QTest::newRow("https scheme") << std::optional<QString> { u"https://app.example.com/"_s }
                                      << u"https://app.example.com"_s;
        QTest::newRow("two trailing slashes keep one")
            << std::optional<QString> { u"app.example.com//"_s } << u"https://app.example.com/"_s;
        QTest::newRow("schemes removed everywhere, https first")
            << std::optional<QString> { u"hthttps://tp://app.example.com"_s } << u"https://app.example.com"_s;
        QTest::newRow("both schemes stacked")
            << std::optional<QString> { u"http://https://app.example.com"_s } << u"https://app.example.com"_s;
        QTest::newRow("port and path") << std::optional<QString> { u"app.example.com:8443/dash"_s }
                                       << u"https://app.example.com:8443/dash"_s;
        QTest::newRow("line break is not trimmed") << std::optional<QString> { u"\napp.example.com"_s } << QString();
        QTest::newRow("space inside host") << std::optional<QString> { u"app example.com"_s } << QString();
        QTest::newRow("scheme only") << std::optional<QString> { u"https://"_s } << QString();
        QTest::newRow("slash only") << std::optional<QString> { u"/"_s } << QString();
        QTest::newRow("path without host") << std::optional<QString> { u"/dash"_s } << QString();
    }

    void tunnelURL()
    {
        QFETCH(std::optional<QString>, hostname);
        QFETCH(QString, expected);
        ServerConfig config = sample();
        config.tunnelHostname = hostname;
        const std::optional<QUrl> url = config.tunnelURL();
        if (expected.isEmpty()) {
            QVERIFY2(!url, qPrintable(url ? url->toString() : QString()));
        } else {
            QVERIFY(url.has_value());
            QCOMPARE(url->toString(), expected);
        }
    }

    void parseUuid_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");

        QTest::newRow("upper case") << u"1B4E28BA-2FA1-11D2-883F-0016D3CCA427"_s << true;
        QTest::newRow("lower case") << u"1b4e28ba-2fa1-11d2-883f-0016d3cca427"_s << true;
        QTest::newRow("mixed case") << u"1b4E28bA-2fa1-11D2-883f-0016D3cca427"_s << true;
        QTest::newRow("nil") << u"00000000-0000-0000-0000-000000000000"_s << true;
        QTest::newRow("braces") << u"{1B4E28BA-2FA1-11D2-883F-0016D3CCA427}"_s << false;
        QTest::newRow("no hyphens") << u"1B4E28BA2FA111D2883F0016D3CCA427"_s << false;
        QTest::newRow("hyphen moved") << u"1B4E28B-A2FA1-11D2-883F-0016D3CCA427"_s << false;
        QTest::newRow("35 characters") << u"1B4E28BA-2FA1-11D2-883F-0016D3CCA42"_s << false;
        QTest::newRow("37 characters") << u"1B4E28BA-2FA1-11D2-883F-0016D3CCA4270"_s << false;
        QTest::newRow("space around") << u" 1B4E28BA-2FA1-11D2-883F-0016D3CCA427"_s.chopped(1) + u' ' << false;
        QTest::newRow("not hexadecimal") << u"1B4E28BA-2FA1-11D2-883F-0016D3CCA42G"_s << false;
        QTest::newRow("full-width digit") << u"1B4E28BA-2FA1-11D2-883F-0016D3CCA42\uFF17"_s << false;
        QTest::newRow("urn form") << u"urn:uuid:1B4E28BA-2FA1-11D2-883F-0016D3CC"_s << false;
        QTest::newRow("empty") << QString() << false;
    }

    void parseUuid()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const std::optional<QUuid> id = Wardlamp::parseUuid(text);
        QCOMPARE(id.has_value(), valid);
        if (valid)
            QCOMPARE(Wardlamp::uuidText(*id), text.toUpper());
    }

    void decodeList_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("count"); // -1: the list fails to decode
        QTest::addColumn<QString>("error"); // expected message (start of it)

        QTest::newRow("empty array") << QByteArray("[]") << 0 << QString();
        QTest::newRow("one record") << list({ record() }) << 1 << QString();
        QTest::newRow("whitespace around") << QByteArray(" \n[ ") + record() + " ]\n" << 1 << QString();
        QTest::newRow("lower-case id") << list({ record({ { "id", '"' + validId.toLower() + '"' } }) }) << 1
                                       << QString();
        QTest::newRow("unknown keys ignored")
            << list({ record({ { "colour", "\"red\"" }, { "extra", "{\"deep\":[1,[2,[3]]]}" } }) }) << 1 << QString();
        QTest::newRow("null optionals") << list(
            { record({ { "directory", "null" }, { "tunnelHostname", "null" }, { "restartOnCrash", "null" } }) })
                                        << 1 << QString();

        QTest::newRow("empty input") << QByteArray() << -1 << u"not valid JSON"_s;
        QTest::newRow("truncated") << QByteArray("[{\"id\":") << -1 << u"not valid JSON"_s;
        QTest::newRow("trailing garbage") << QByteArray("[] x") << -1 << u"not valid JSON"_s;
        QTest::newRow("invalid UTF-8") << QByteArray("[\"\xff\xfe\"]") << -1 << u"not valid JSON"_s;
        QTest::newRow("deep nesting") << QByteArray(5000, '[') + QByteArray(5000, ']') << -1 << u"not valid JSON"_s;
        QTest::newRow("object, not array") << record() << -1 << u"not a JSON array of servers"_s;
        QTest::newRow("null document") << QByteArray("null") << -1 << u"not a JSON array of servers"_s;
        QTest::newRow("number document") << QByteArray("42") << -1 << u"not a JSON array of servers"_s;
        QTest::newRow("string document") << QByteArray("\"[]\"") << -1 << u"not a JSON array of servers"_s;

        QTest::newRow("element is a number") << QByteArray("[1]") << -1 << u"record 1: is not a JSON object"_s;
        QTest::newRow("element is an array") << QByteArray("[[]]") << -1 << u"record 1: is not a JSON object"_s;
        QTest::newRow("element is null") << QByteArray("[null]") << -1 << u"record 1: is not a JSON object"_s;
        QTest::newRow("second of three bad") << list({ record(), record({}, { "autostart" }), record() }) << -1
                                             << u"record 2: \"autostart\" is missing or not a boolean"_s;

        for (const char* key : { "id", "name", "command" }) {
            QTest::addRow("missing %s", key)
                << list({ record({}, { key }) }) << -1
                << u"record 1: \"%1\" is missing or not a string"_s.arg(QLatin1StringView(key));
            QTest::addRow("%s is a number", key)
                << list({ record({ { key, "7" } }) }) << -1
                << u"record 1: \"%1\" is missing or not a string"_s.arg(QLatin1StringView(key));
            QTest::addRow("%s is null", key)
                << list({ record({ { key, "null" } }) }) << -1
                << u"record 1: \"%1\" is missing or not a string"_s.arg(QLatin1StringView(key));
        }
        for (const char* key : { "autostart", "errorAlertEnabled" }) {
            QTest::addRow("missing %s", key)
                << list({ record({}, { key }) }) << -1
                << u"record 1: \"%1\" is missing or not a boolean"_s.arg(QLatin1StringView(key));
            QTest::addRow("%s is a string", key)
                << list({ record({ { key, "\"true\"" } }) }) << -1
                << u"record 1: \"%1\" is missing or not a boolean"_s.arg(QLatin1StringView(key));
            QTest::addRow("%s is 1", key)
                << list({ record({ { key, "1" } }) }) << -1
                << u"record 1: \"%1\" is missing or not a boolean"_s.arg(QLatin1StringView(key));
            QTest::addRow("%s is null", key)
                << list({ record({ { key, "null" } }) }) << -1
                << u"record 1: \"%1\" is missing or not a boolean"_s.arg(QLatin1StringView(key));
        }
        QTest::newRow("restartOnCrash is a string") << list({ record({ { "restartOnCrash", "\"yes\"" } }) }) << -1
                                                    << u"record 1: \"restartOnCrash\" is not a boolean"_s;
        QTest::newRow("directory is a number")
            << list({ record({ { "directory", "5" } }) }) << -1 << u"record 1: \"directory\" is not a string"_s;
        QTest::newRow("directory is an array") << list({ record({ { "directory", "[\"/tmp\"]" } }) }) << -1
                                               << u"record 1: \"directory\" is not a string"_s;
        QTest::newRow("tunnelHostname is an object") << list({ record({ { "tunnelHostname", "{}" } }) }) << -1
                                                     << u"record 1: \"tunnelHostname\" is not a string"_s;
        QTest::newRow("tunnelHostname is false") << list({ record({ { "tunnelHostname", "false" } }) }) << -1
                                                 << u"record 1: \"tunnelHostname\" is not a string"_s;

        const QString notUuid = u"record 1: \"id\" is not a UUID"_s;
        QTest::newRow("id with braces") << list({ record({ { "id", "\"{" + validId + "}\"" } }) }) << -1 << notUuid;
        QTest::newRow("id without hyphens")
            << list({ record({ { "id", '"' + QByteArray(validId).replace('-', "") + '"' } }) }) << -1 << notUuid;
        QTest::newRow("id with space") << list({ record({ { "id", "\" " + validId + "\"" } }) }) << -1 << notUuid;
        QTest::newRow("id empty") << list({ record({ { "id", "\"\"" } }) }) << -1 << notUuid;
        QTest::newRow("id escaped non-ASCII")
            << list({ record({ { "id", "\"1B4E28BA-2FA1-11D2-883F-0016D3CCA42\\uff17\"" } }) }) << -1 << notUuid;
    }

    void decodeList()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, count);
        QFETCH(QString, error);
        const auto servers = ServerConfig::decodeList(json);
        if (count < 0) {
            QVERIFY(!servers);
            QVERIFY2(servers.error().startsWith(error), qPrintable(servers.error()));
            QVERIFY(!servers.error().contains(u'\n'));
        } else {
            QVERIFY2(servers, qPrintable(servers.hasValue() ? QString() : servers.error()));
            QCOMPARE(servers->size(), count);
        }
    }

    void readsFieldsAndDefaults()
    {
        const auto servers = ServerConfig::decodeList(list({
            record({ { "id", '"' + validId.toLower() + '"' } }),
            record({ { "directory", "\"/srv/app\"" }, { "tunnelHostname", "\"t.example.com\"" },
                { "restartOnCrash", "true" }, { "errorAlertEnabled", "true" }, { "autostart", "false" } }),
            record({ { "directory", "null" }, { "tunnelHostname", "null" }, { "restartOnCrash", "null" } }),
        }));
        QVERIFY(servers);
        QCOMPARE(servers->size(), 3);
        QCOMPARE(servers->at(0), sample());
        QCOMPARE(servers->at(0).restartOnCrash, false);
        QCOMPARE(servers->at(0).directory, std::nullopt);
        QCOMPARE(servers->at(0).tunnelHostname, std::nullopt);

        ServerConfig full = sample();
        full.directory = u"/srv/app"_s;
        full.tunnelHostname = u"t.example.com"_s;
        full.restartOnCrash = true;
        full.errorAlertEnabled = true;
        full.autostart = false;
        QCOMPARE(servers->at(1), full);
        QCOMPARE(servers->at(2), sample());
    }

    void writesCompactUpperCaseWithoutAbsentKeys()
    {
        ServerConfig config = sample();
        const QByteArray json = ServerConfig::encodeList({ config });
        QVERIFY2(json.contains(QByteArray('"' + validId + '"')), json.constData());
        QVERIFY(!json.contains(' ') || json.contains("bun server.js"));
        QVERIFY(!json.contains('\n'));
        QVERIFY(!json.contains("directory"));
        QVERIFY(!json.contains("tunnelHostname"));
        QVERIFY(!json.contains("null"));
        QVERIFY(json.contains("\"restartOnCrash\":false"));

        const QJsonObject object = QJsonDocument::fromJson(json).array().at(0).toObject();
        QCOMPARE(object.keys().size(), 6);

        config.directory = QString();
        const QByteArray withEmptyDirectory = ServerConfig::encodeList({ config });
        QVERIFY2(withEmptyDirectory.contains("\"directory\":\"\""), withEmptyDirectory.constData());
    }

    void roundTripsHostileStrings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("unicode") << u"🚀 Ünïcødé サーバー \u0301e"_s;
        QTest::newRow("quotes, backslashes, slashes") << u"echo \"a\\b\" '/x/' && exit"_s;
        QTest::newRow("control characters") << u"line\nbreak\ttab\u0001\u007f"_s;
        QTest::newRow("embedded NUL") << QString(u"nul\0inside"_s);
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u"x"_s;
        QTest::newRow("one megabyte") << QString(1 << 20, u'x');
    }

    void roundTripsHostileStrings()
    {
        QFETCH(QString, text);
        ServerConfig config = sample();
        config.name = text;
        config.command = text;
        config.directory = text;
        config.tunnelHostname = text;
        config.restartOnCrash = true;
        const auto back = ServerConfig::decodeList(ServerConfig::encodeList({ config, sample() }));
        QVERIFY(back);
        QCOMPARE(back->size(), 2);
        if (text.at(0).isSurrogate()) {
            // JSON text is UTF-8: a lone surrogate cannot survive it and becomes U+FFFD.
            QCOMPARE(back->at(0).name.size(), text.size());
        } else {
            QCOMPARE(back->at(0), config);
        }
        QCOMPARE(back->at(1), sample());
    }

    void duplicateIds_data()
    {
        QTest::addColumn<QStringList>("ids"); // one letter per record: same letter, same id
        QTest::addColumn<QString>("problem"); // empty: none
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("all different") << QStringList { u"a"_s, u"b"_s, u"c"_s } << QString()
                                       << QStringList { u"a"_s, u"b"_s, u"c"_s };
        QTest::newRow("first and third") << QStringList { u"a"_s, u"b"_s, u"a"_s }
                                         << u"records 1 (\"s1\") and 3 (\"s3\") have the same id"_s
                                         << QStringList { u"a"_s, u"b"_s };
        QTest::newRow("three of one") << QStringList { u"a"_s, u"a"_s, u"a"_s }
                                      << u"records 1 (\"s1\") and 2 (\"s2\") have the same id"_s
                                      << QStringList { u"a"_s };
        QTest::newRow("empty") << QStringList {} << QString() << QStringList {};
    }

    void duplicateIds()
    {
        QFETCH(QStringList, ids);
        QFETCH(QString, problem);
        QFETCH(QStringList, kept);
        QHash<QString, QUuid> byLetter;
        QList<ServerConfig> servers;
        for (qsizetype i = 0; i < ids.size(); ++i) {
            if (!byLetter.contains(ids[i]))
                byLetter.insert(ids[i], QUuid::createUuid());
            ServerConfig config = sample();
            config.id = byLetter.value(ids[i]);
            config.name = u"s%1"_s.arg(i + 1);
            servers.append(config);
        }
        const std::optional<QString> found = ServerConfig::duplicateIds(servers);
        QCOMPARE(found.has_value(), !problem.isEmpty());
        if (found)
            QVERIFY2(found->startsWith(problem) && !found->contains(u'\n'), qPrintable(*found));
        const QStringList dropped = ServerConfig::dropDuplicateIds(servers);
        QCOMPARE(dropped.size(), ids.size() - kept.size());
        QStringList left;
        for (const ServerConfig& server : servers)
            left.append(byLetter.key(server.id));
        QCOMPARE(left, kept);
        QCOMPARE(ServerConfig::duplicateIds(servers), std::nullopt);
    }

    // The id's text may differ in case; it is still one id.
    void duplicateIdsIgnoreTheCaseOfTheText()
    {
        const auto servers
            = ServerConfig::decodeList(list({ record(), record({ { "id", '"' + validId.toLower() + '"' } }) }));
        QVERIFY(servers);
        QVERIFY(ServerConfig::duplicateIds(*servers));
    }

    // A record that fails to decode is named by its name too, on one line.
    void decodeErrorNamesTheRecord()
    {
        const auto decoded
            = ServerConfig::decodeList(list({ record({ { "name", "\"web\\nserver\"" } }, { "autostart" }) }));
        QVERIFY(!decoded);
        QCOMPARE(decoded.error(),
            u"record 1: \"autostart\" is missing or not a boolean (the server named \"web server\")"_s);
    }

    void singleRecordErrorHasNoIndex()
    {
        const auto notAnObject = ServerConfig::fromJson(QJsonValue(u"x"_s));
        QVERIFY(!notAnObject);
        QCOMPARE(notAnObject.error(), u"is not a JSON object"_s);
        QJsonObject object = sample().toJson();
        object.remove(u"errorAlertEnabled"_s);
        const auto withoutFlag = ServerConfig::fromJson(object);
        QVERIFY(!withoutFlag);
        QCOMPARE(withoutFlag.error(), u"\"errorAlertEnabled\" is missing or not a boolean"_s);
        QCOMPARE(ServerConfig::fromJson(sample().toJson()).value(), sample());
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_environment;
};

QTEST_GUILESS_MAIN(TestServerConfig)
#include "TestServerConfig.moc"
