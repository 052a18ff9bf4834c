#include "TestEnvironment.h"

#include "remote/PasswordInput.h"
#include "remote/RemoteOptions.h"

#include <QProcessEnvironment>
#include <QTest>

using namespace Wardlamp;
using namespace Qt::Literals::StringLiterals;
using Outcome = RemoteOptions::Parsed::Outcome;
using Command = RemoteOptions::Command;
using Source = RemoteOptions::PasswordSource;
using KeySource = RemoteOptions::KeySource;

Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(Command)
Q_DECLARE_METATYPE(Source)
Q_DECLARE_METATYPE(KeySource)

namespace {
const QString key = QStringLiteral("WL1.abc");
const QString relay = QStringLiteral("wss://relay.example/wl");

QProcessEnvironment environmentOf(const QStringList& pairs)
{
    QProcessEnvironment environment;
    for (const QString& pair : pairs)
        environment.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    return environment;
}
} // namespace

class TestRemoteOptions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Wardlamp::Test::TestEnvironment>(); }
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void help_data();
    void help();
    void passwordSource_data();
    void passwordSource();
    void passwordFirstLine_data();
    void passwordFirstLine();
    void keySource_data();
    void keySource();

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
};

void TestRemoteOptions::accepted_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Command>("command");
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("json");
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("lines");
    const QStringList c { QStringLiteral("--relay"), relay };
    QTest::newRow("ls") << (c + QStringList { u"ls"_s }) << Command::list << QString() << false << false << 50;
    QTest::newRow("list alias") << (c + QStringList { u"list"_s }) << Command::list << QString() << false << false
                                << 50;
    QTest::newRow("ls --json") << (c + QStringList { u"ls"_s, u"--json"_s }) << Command::list << QString() << true
                               << false << 50;
    QTest::newRow("options after command")
        << (QStringList { u"ls"_s, u"--json"_s } + c) << Command::list << QString() << true << false << 50;
    QTest::newRow("logs -f -n") << (c + QStringList { u"logs"_s, u"api"_s, u"-f"_s, u"-n"_s, u"7"_s }) << Command::logs
                                << u"api"_s << false << true << 7;
    QTest::newRow("logs --lines=0") << (c + QStringList { u"logs"_s, u"--lines=0"_s, u"api"_s }) << Command::logs
                                    << u"api"_s << false << false << 0;
    QTest::newRow("start") << (c + QStringList { u"start"_s, u"api"_s }) << Command::start << u"api"_s << false << false
                           << 50;
    QTest::newRow("stop by id") << (c + QStringList { u"stop"_s, u"1B4E28BA-2FA1-11D2-883F-0016D3CCA427"_s })
                                << Command::stop << u"1B4E28BA-2FA1-11D2-883F-0016D3CCA427"_s << false << false << 50;
    QTest::newRow("restart") << (c + QStringList { u"restart"_s, u"my api"_s }) << Command::restart << u"my api"_s
                             << false << false << 50;
    QTest::newRow("clear") << (c + QStringList { u"clear"_s, u"api"_s }) << Command::clear << u"api"_s << false << false
                           << 50;
    QTest::newRow("watch") << (c + QStringList { u"watch"_s }) << Command::watch << QString() << false << false << 50;
    QTest::newRow("inline relay") << QStringList { u"--relay="_s + relay, u"ls"_s } << Command::list << QString()
                                  << false << false << 50;
}

void TestRemoteOptions::accepted()
{
    QFETCH(QStringList, arguments);
    QFETCH(Command, command);
    QFETCH(QString, server);
    QFETCH(bool, json);
    QFETCH(bool, follow);
    QFETCH(int, lines);
    const auto parsed = RemoteOptions::parse(arguments, environmentOf({ u"WL_REMOTE_KEY="_s + key }), false);
    QVERIFY2(parsed.outcome == Outcome::run, qPrintable(parsed.text));
    QCOMPARE(parsed.options.command, command);
    QCOMPARE(parsed.options.server, server);
    QCOMPARE(parsed.options.json, json);
    QCOMPARE(parsed.options.follow, follow);
    QCOMPARE(parsed.options.lines, lines);
    QCOMPARE(parsed.options.key, key);
    QCOMPARE(parsed.options.relay, QUrl(relay));
}

void TestRemoteOptions::refused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("message");
    const QStringList c { QStringLiteral("--relay"), relay };
    QTest::newRow("nothing") << QStringList() << QStringList() << u"no command"_s;
    QTest::newRow("unknown command") << (c + QStringList { u"frobnicate"_s }) << QStringList() << u"unknown command"_s;
    QTest::newRow("unknown option") << (c + QStringList { u"ls"_s, u"--colour"_s }) << QStringList()
                                    << u"unknown option --colour"_s;
    QTest::newRow("password on argv") << (c + QStringList { u"ls"_s, u"--password"_s, u"hunter2"_s }) << QStringList()
                                      << u"never taken from the command line"_s;
    QTest::newRow("password inline") << (c + QStringList { u"ls"_s, u"--password=hunter2"_s }) << QStringList()
                                     << u"never taken from the command line"_s;
    QTest::newRow("stop without server") << (c + QStringList { u"stop"_s }) << QStringList() << u"needs a server"_s;
    QTest::newRow("extra argument") << (c + QStringList { u"ls"_s, u"api"_s }) << QStringList()
                                    << u"unexpected argument"_s;
    QTest::newRow("json on logs") << (c + QStringList { u"logs"_s, u"api"_s, u"--json"_s }) << QStringList()
                                  << u"--json belongs to ls"_s;
    QTest::newRow("follow on ls") << (c + QStringList { u"ls"_s, u"-f"_s }) << QStringList() << u"belong to logs"_s;
    QTest::newRow("negative lines") << (c + QStringList { u"logs"_s, u"api"_s, u"-n"_s, u"-1"_s }) << QStringList()
                                    << u"-n expects"_s;
    QTest::newRow("lines not a number") << (c + QStringList { u"logs"_s, u"api"_s, u"-n"_s, u"x"_s }) << QStringList()
                                        << u"-n expects"_s;
    QTest::newRow("no key") << QStringList { u"--relay"_s, relay, u"ls"_s } << QStringList { u"WL_REMOTE_KEY="_s }
                            << u"no pairing key"_s;
    QTest::newRow("blank key") << QStringList { u"--relay"_s, relay, u"ls"_s } << QStringList { u"WL_REMOTE_KEY=  "_s }
                               << u"no pairing key"_s;
    QTest::newRow("no relay") << QStringList { u"ls"_s } << QStringList() << u"no relay"_s;
    QTest::newRow("http relay") << QStringList { u"--relay"_s, u"https://relay.example"_s, u"ls"_s } << QStringList()
                                << u"ws:// or wss://"_s;
    QTest::newRow("relay without host") << QStringList { u"--relay"_s, u"wss://"_s, u"ls"_s } << QStringList()
                                        << u"with a host"_s;
    QTest::newRow("timeout zero") << (c + QStringList { u"ls"_s, u"--timeout"_s, u"0"_s }) << QStringList()
                                  << u"--timeout expects"_s;
    QTest::newRow("key on argv") << (c + QStringList { u"ls"_s, u"--key"_s, key }) << QStringList()
                                 << u"never taken from the command line"_s;
    QTest::newRow("key inline") << (c + QStringList { u"ls"_s, u"--key="_s + key }) << QStringList()
                                << u"WL_REMOTE_KEY"_s;
    QTest::newRow("key option without value")
        << QStringList { u"ls"_s, u"--key"_s } << QStringList() << u"--key-file FILE"_s;
    QTest::newRow("key file without value")
        << QStringList { u"ls"_s, u"--key-file"_s } << QStringList() << u"--key-file expects"_s;
    QTest::newRow("contradicting password options")
        << (c + QStringList { u"ls"_s, u"--no-password"_s, u"--password-file"_s, u"/x"_s }) << QStringList()
        << u"contradict"_s;
}

void TestRemoteOptions::refused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(QString, message);
    // A key in the environment unless the row says otherwise (later entries win).
    const auto parsed = RemoteOptions::parse(
        arguments, environmentOf(QStringList { u"WL_REMOTE_KEY="_s + key } + environment), false);
    QCOMPARE(parsed.outcome, Outcome::error);
    QVERIFY2(parsed.text.contains(message), qPrintable(parsed.text));
    // A refusal never echoes a password or a key back.
    QVERIFY(!parsed.text.contains(QStringLiteral("hunter2")));
    QVERIFY(!parsed.text.contains(key));
}

void TestRemoteOptions::help_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    QTest::newRow("--help") << QStringList { u"--help"_s } << u"Usage: wardlamp-remote [options] COMMAND"_s;
    QTest::newRow("-h") << QStringList { u"-h"_s } << u"Usage: wardlamp-remote [options] COMMAND"_s;
    QTest::newRow("ls --help") << QStringList { u"ls"_s, u"--help"_s } << u"Usage: wardlamp-remote ls"_s;
    QTest::newRow("logs -h") << QStringList { u"logs"_s, u"-h"_s } << u"Usage: wardlamp-remote logs SERVER"_s;
    QTest::newRow("stop --help without server")
        << QStringList { u"stop"_s, u"--help"_s } << u"Usage: wardlamp-remote stop SERVER"_s;
    QTest::newRow("clear --help") << QStringList { u"clear"_s, u"--help"_s } << u"clear the server's log"_s;
    QTest::newRow("help watch") << QStringList { u"help"_s, u"watch"_s } << u"Usage: wardlamp-remote watch"_s;
    QTest::newRow("help") << QStringList { u"help"_s } << u"Exit status:"_s;
}

void TestRemoteOptions::help()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    // Help needs neither a key nor a relay.
    const auto parsed = RemoteOptions::parse(arguments, QProcessEnvironment(), false);
    QCOMPARE(parsed.outcome, Outcome::help);
    QVERIFY2(parsed.text.contains(expected), qPrintable(parsed.text));
}

void TestRemoteOptions::passwordSource_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<bool>("tty");
    QTest::addColumn<Source>("source");
    QTest::newRow("terminal asks") << QStringList() << QStringList() << true << Source::prompt;
    QTest::newRow("pipe does not ask") << QStringList() << QStringList() << false << Source::none;
    QTest::newRow("environment wins over prompt")
        << QStringList() << QStringList { u"WL_REMOTE_PASSWORD=x"_s } << true << Source::environment;
    QTest::newRow("empty environment value is still given")
        << QStringList() << QStringList { u"WL_REMOTE_PASSWORD="_s } << true << Source::environment;
    QTest::newRow("file wins over environment") << QStringList { u"--password-file"_s, u"/p"_s }
                                                << QStringList { u"WL_REMOTE_PASSWORD=x"_s } << true << Source::file;
    QTest::newRow("--no-password") << QStringList { u"--no-password"_s } << QStringList { u"WL_REMOTE_PASSWORD=x"_s }
                                   << true << Source::none;
}

void TestRemoteOptions::passwordSource()
{
    QFETCH(QStringList, extra);
    QFETCH(QStringList, environment);
    QFETCH(bool, tty);
    QFETCH(Source, source);
    const auto parsed = RemoteOptions::parse(QStringList { u"ls"_s } + extra,
        environmentOf(environment + QStringList { u"WL_REMOTE_KEY="_s + key, u"WL_RELAY_URL="_s + relay }), tty);
    QVERIFY2(parsed.outcome == Outcome::run, qPrintable(parsed.text));
    QCOMPARE(parsed.options.passwordSource, source);
}

void TestRemoteOptions::passwordFirstLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("password");
    QTest::newRow("newline") << QByteArray("secret\n") << u"secret"_s;
    QTest::newRow("crlf") << QByteArray("secret\r\n") << u"secret"_s;
    QTest::newRow("no newline") << QByteArray("secret") << u"secret"_s;
    QTest::newRow("spaces kept") << QByteArray(" se cret \n") << u" se cret "_s;
    QTest::newRow("second line ignored") << QByteArray("one\ntwo\n") << u"one"_s;
    QTest::newRow("empty") << QByteArray("\n") << u""_s;
    QTest::newRow("utf-8") << QByteArray("p\xc3\xa4ss\n") << QStringLiteral("p\u00e4ss");
}

void TestRemoteOptions::passwordFirstLine()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, password);
    QCOMPARE(PasswordInput::firstLine(text), password);
}

void TestRemoteOptions::keySource_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<bool>("tty");
    QTest::addColumn<KeySource>("source");
    QTest::addColumn<QString>("keyText");
    QTest::newRow("environment") << QStringList() << QStringList { u"WL_REMOTE_KEY= "_s + key + u"\n"_s } << false
                                 << KeySource::environment << key;
    QTest::newRow("environment wins over prompt")
        << QStringList() << QStringList { u"WL_REMOTE_KEY="_s + key } << true << KeySource::environment << key;
    QTest::newRow("file wins over environment")
        << QStringList { u"--key-file"_s, u"/k"_s } << QStringList { u"WL_REMOTE_KEY="_s + key } << false
        << KeySource::file << QString();
    QTest::newRow("file, inline") << QStringList { u"--key-file=/k"_s } << QStringList() << false << KeySource::file
                                  << QString();
    QTest::newRow("terminal asks") << QStringList() << QStringList() << true << KeySource::prompt << QString();
    QTest::newRow("blank environment, terminal asks")
        << QStringList() << QStringList { u"WL_REMOTE_KEY=  "_s } << true << KeySource::prompt << QString();
}

void TestRemoteOptions::keySource()
{
    QFETCH(QStringList, extra);
    QFETCH(QStringList, environment);
    QFETCH(bool, tty);
    QFETCH(KeySource, source);
    QFETCH(QString, keyText);
    const auto parsed = RemoteOptions::parse(QStringList { u"ls"_s, u"--no-password"_s } + extra,
        environmentOf(environment + QStringList { u"WL_RELAY_URL="_s + relay }), tty);
    QVERIFY2(parsed.outcome == Outcome::run, qPrintable(parsed.text));
    QCOMPARE(parsed.options.keySource, source);
    QCOMPARE(parsed.options.key, keyText);
    if (source == KeySource::file)
        QCOMPARE(parsed.options.keyFile, u"/k"_s);
}

QTEST_GUILESS_MAIN(TestRemoteOptions)
#include "TestRemoteOptions.moc"
