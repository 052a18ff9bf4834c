#include "supervision/ServerConfig.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Wardlamp::ServerConfig;
using Wardlamp::Test::waitMs;

namespace {

QString quoted(const QString& text)
{
    return u'\'' + QString(text).replace(u"'"_s, u"'\\''"_s) + u'\'';
}

// A command line that runs the scripted test child with these steps.
QString child(const QStringList& steps)
{
    QStringList words { quoted(Wardlamp::Test::program(u"wl-test-child"_s)) };
    for (const QString& step : steps)
        words.append(quoted(step));
    return words.join(u' ');
}

ServerConfig server(const QString& name, const QString& command, bool autostart = true)
{
    ServerConfig config;
    config.id = QUuid::createUuid();
    config.name = name;
    config.command = command;
    config.autostart = autostart;
    return config;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool processExists(qint64 pid)
{
    // A zombie still answers kill(0); count it as gone.
    if (::kill(pid_t(pid), 0) != 0)
        return false;
    const QByteArray stat = readFile(u"/proc/%1/stat"_s.arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    return close >= 0 && stat.mid(close + 2, 1) != "Z";
}

qint64 pidFrom(const QString& path)
{
    return readFile(path).trimmed().toLongLong();
}

} // namespace

class TestWardlampd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_environment = std::make_unique<Wardlamp::Test::TestEnvironment>();
        QVERIFY2(QFile::exists(program()), qPrintable(program()));
        QVERIFY(QFile::exists(Wardlamp::Test::program(u"wl-test-child"_s)));
        m_settingsPath = m_environment->configHome() + u"/wardlamp/wardlamp.conf"_s;
    }

    void init()
    {
        // A saved list the daemon must never change unless it runs from it.
        QDir().mkpath(QFileInfo(m_settingsPath).path());
        QSettings settings(m_settingsPath, QSettings::IniFormat);
        settings.clear();
        settings.setValue(u"wardlamp.servers"_s,
            ServerConfig::encodeList({ server(u"saved"_s, child({ u"out:saved ran"_s }), false) }));
        settings.sync();
        m_savedBytes = readFile(m_settingsPath);
        QVERIFY(!m_savedBytes.isEmpty());
    }

    void helpAndVersion()
    {
        QProcess help;
        help.start(program(), { u"--help"_s });
        QVERIFY(help.waitForFinished(waitMs(10000)));
        QCOMPARE(help.exitCode(), 0);
        const QByteArray text = help.readAllStandardOutput();
        for (const char* part : { "--servers", "--until-stopped", "--quiet", "--grace", "Exit status", "  0  ", "  1  ",
                 "  2  ", "  3  ", "WL_SEED_SERVERS" })
            QVERIFY2(text.contains(part), part);

        QProcess version;
        version.start(program(), { u"--version"_s });
        QVERIFY(version.waitForFinished(waitMs(10000)));
        QCOMPARE(version.exitCode(), 0);
        QVERIFY(QRegularExpression(u"^wardlampd \\d+\\.\\d+\\.\\d+\\n$"_s)
                    .match(QString::fromUtf8(version.readAllStandardOutput()))
                    .hasMatch());
    }

    // Every verb explains itself with --help (status 0, its usage first),
    // whether or not a supervisor runs, and changes nothing.
    void everyVerbHasHelp_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::addColumn<QString>("usage");
        for (const char* verb :
            { "ls", "logs", "start", "stop", "restart", "clear", "add", "edit", "rm", "import", "export" })
            QTest::newRow(verb) << QString::fromLatin1(verb) << u"Usage: wardlampd "_s + QString::fromLatin1(verb);
        QTest::newRow("pair") << u"pair"_s << u"wardlampd pair [--rotate]"_s;
        QTest::newRow("remote") << u"remote"_s << u"wardlampd remote enable|disable"_s;
    }

    void everyVerbHasHelp()
    {
        QFETCH(QString, verb);
        QFETCH(QString, usage);
        const Run help = wardlampd({ verb, u"--help"_s });
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.contains(usage), qPrintable(help.out));
        QVERIFY2(help.err.isEmpty(), qPrintable(help.err));
        if (verb == u"ls"_s)
            QVERIFY(help.out.contains(u"--json"_s));
        QCOMPARE(readFile(m_settingsPath), m_savedBytes);
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("fileContent"); // written to servers.json when not null
        QTest::addColumn<QString>("message");

        const QByteArray good = ServerConfig::encodeList({ server(u"a"_s, child({ u"out:x"_s })) });
        QTest::newRow("unknown option") << QStringList { u"--bogus"_s } << QByteArray() << u"bogus"_s;
        QTest::newRow("stray argument") << QStringList { u"extra"_s } << QByteArray() << u"unexpected argument"_s;
        QTest::newRow("negative grace") << QStringList { u"--grace"_s, u"-1"_s } << QByteArray() << u"--grace"_s;
        QTest::newRow("grace not a number") << QStringList { u"--grace=soon"_s } << QByteArray() << u"--grace"_s;
        QTest::newRow("bad colour") << QStringList { u"--color=pink"_s } << QByteArray() << u"--color"_s;
        QTest::newRow("servers without file") << QStringList { u"--servers"_s } << QByteArray() << u"servers"_s;
        QTest::newRow("missing file") << QStringList { u"--servers"_s, u"@missing"_s } << QByteArray()
                                      << u"cannot read servers file"_s;
        QTest::newRow("directory") << QStringList { u"--servers"_s, u"@dir"_s } << QByteArray() << u"is a directory"_s;
        QTest::newRow("empty file") << QStringList { u"--servers"_s, u"@file"_s } << QByteArray("")
                                    << u"not valid JSON"_s;
        QTest::newRow("invalid JSON") << QStringList { u"--servers"_s, u"@file"_s } << QByteArray("[{\"id\":")
                                      << u"not valid JSON"_s;
        QTest::newRow("not an array") << QStringList { u"--servers"_s, u"@file"_s } << QByteArray("{\"servers\":[]}")
                                      << u"not a JSON array of servers"_s;
        QByteArray secondBad = good;
        secondBad.chop(1);
        secondBad += ",{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"name\":\"b\",\"command\":\"c\","
                     "\"errorAlertEnabled\":false}]";
        QTest::newRow("invalid record") << QStringList { u"--servers"_s, u"@file"_s } << secondBad
                                        << u"record 2: \"autostart\" is missing or not a boolean"_s;
        const ServerConfig one = server(u"one"_s, child({ u"out:x"_s }));
        ServerConfig twin = server(u"twin"_s, child({ u"out:y"_s }));
        twin.id = one.id;
        QTest::newRow("two servers of one id")
            << QStringList { u"--servers"_s, u"@file"_s } << ServerConfig::encodeList({ one, twin })
            << u"records 1 (\"one\") and 2 (\"twin\") have the same id "_s + Wardlamp::uuidText(one.id);
        QTest::newRow("braced id") << QStringList { u"--servers"_s,
            u"@file"_s } << QByteArray(good).replace("\"id\":\"", "\"id\":\"{").replace("\",\"name", "}\",\"name")
                                   << u"record 1: \"id\" is not a UUID"_s;
    }

    // Bad input: one line naming the problem, status 2, nothing started, the
    // saved list untouched.
    void badInput()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, fileContent);
        QFETCH(QString, message);

        const QString file = m_environment->path(u"servers.json"_s);
        QFile::remove(file);
        if (!fileContent.isNull()) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(fileContent);
        }
        for (QString& argument : arguments) {
            if (argument == u"@file"_s)
                argument = file;
            else if (argument == u"@missing"_s)
                argument = m_environment->path(u"no-such-file.json"_s);
            else if (argument == u"@dir"_s)
                argument = m_environment->home();
        }

        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), arguments);
        QVERIFY(daemon.waitForFinished(waitMs(10000)));
        QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
        QCOMPARE(daemon.exitCode(), 2);
        const QString error = QString::fromUtf8(daemon.readAllStandardError());
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY2(error.startsWith(u"wardlampd: "_s), qPrintable(error));
        QCOMPARE(error.count(u'\n'), 1);
        QCOMPARE(daemon.readAllStandardOutput(), QByteArray());
        QCOMPARE(readFile(m_settingsPath), m_savedBytes);
    }

    void untilStopped_data()
    {
        QTest::addColumn<QStringList>("extraArguments");
        QTest::addColumn<bool>("failing");
        QTest::newRow("all succeed") << QStringList() << false;
        QTest::newRow("one fails") << QStringList() << true;
        QTest::newRow("quiet, one fails") << QStringList { u"--quiet"_s } << true;
    }

    // Every line of every server in the documented form, one summary line per
    // server, and an exit status that says whether a server failed.
    void untilStopped()
    {
        QFETCH(QStringList, extraArguments);
        QFETCH(bool, failing);
        const bool quiet = extraArguments.contains(u"--quiet"_s);

        QList<ServerConfig> servers { server(u"alpha"_s, child({ u"out:hello %s 100%"_s, u"lines:3"_s })),
            server(u"idle"_s, child({ u"out:never"_s }), false) };
        if (failing)
            servers.append(server(u"beta"_s, child({ u"out:starting"_s, u"err:boom"_s, u"exit:3"_s })));
        const QString file = writeServers(servers);

        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), QStringList { u"--servers"_s, file, u"--until-stopped"_s } + extraArguments);
        QVERIFY(daemon.waitForFinished(waitMs(30000)));
        const QString out = QString::fromUtf8(daemon.readAllStandardOutput());
        const QString err = QString::fromUtf8(daemon.readAllStandardError());
        QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
        QVERIFY2(daemon.exitCode() == (failing ? 1 : 0), qPrintable(err));

        const QString time = u"\\d\\d:\\d\\d:\\d\\d"_s;
        auto hasLine = [&](const QString& pattern) {
            return QRegularExpression(u"(?m)^"_s + time + u' ' + pattern + u'$').match(out).hasMatch();
        };
        if (quiet) {
            QVERIFY2(!out.contains(u"hello"_s), qPrintable(out));
            QVERIFY2(hasLine(u"alpha = running"_s), qPrintable(out));
            QVERIFY2(hasLine(u"alpha = stopped \\(last exit code 0\\)"_s), qPrintable(out));
        } else {
            QVERIFY2(hasLine(u"alpha \\| hello %s 100%"_s), qPrintable(out));
            QVERIFY2(hasLine(u"alpha \\| line 3"_s), qPrintable(out));
            QVERIFY2(hasLine(u"alpha \\| \u25B6\uFE0E Started: .*"_s), qPrintable(out));
            QVERIFY2(!out.contains(u"never"_s), qPrintable(out));
            if (failing) {
                QVERIFY2(hasLine(u"beta \\| starting"_s), qPrintable(out));
                QVERIFY2(hasLine(u"beta ! boom"_s), qPrintable(out));
                QVERIFY2(hasLine(u"beta ! \u2716 Server exited with code 3"_s), qPrintable(out));
            }
        }
        QVERIFY2(err.contains(QRegularExpression(u"(?m)^wardlampd: summary: alpha: stopped, \\d+ lines, 0 error lines, "
                                                 "last exit code 0$"_s)),
            qPrintable(err));
        QVERIFY2(err.contains(u"wardlampd: summary: idle: not started\n"_s), qPrintable(err));
        if (failing) {
            QVERIFY2(
                err.contains(QRegularExpression(u"(?m)^wardlampd: summary: beta: error, \\d+ lines, 2 error lines, "
                                                "last exit code 3$"_s)),
                qPrintable(err));
        }
        QCOMPARE(readFile(m_settingsPath), m_savedBytes);
    }

    // A server that daemonises (new session, then a fork whose parent exits)
    // leaves an orphan outside every tree the supervisor knows; it still does
    // not outlive wardlampd.
    void daemonisedOrphanDoesNotOutliveTheDaemon()
    {
        const QString file = writeServers({ server(u"forker"_s,
            child({ u"setsid-grandchild"_s, u"{"_s, u"grandchild"_s, u"{"_s, u"hold"_s, u"}"_s, u"}"_s, u"wait"_s,
                u"out:left"_s })) });
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--servers"_s, file, u"--until-stopped"_s, u"--grace"_s, u"0.5"_s });
        QVERIFY(daemon.waitForFinished(waitMs(30000)));
        const QString out = QString::fromUtf8(daemon.readAllStandardOutput());
        const QRegularExpression grandchild(u" forker \\| grandchild (\\d+)\n"_s);
        qint64 orphan = 0;
        for (auto it = grandchild.globalMatch(out); it.hasNext();)
            orphan = it.next().captured(1).toLongLong();
        QVERIFY2(orphan > 0, qPrintable(out));
        QVERIFY2(out.contains(u" forker | left\n"_s), qPrintable(out));
        const bool gone = QTest::qWaitFor([&] { return !processExists(orphan); }, waitMs(5000));
        if (!gone)
            ::kill(pid_t(orphan), SIGKILL);
        QVERIFY2(gone, qPrintable(u"orphan %1 survived wardlampd"_s.arg(orphan)));
        QCOMPARE(daemon.exitCode(), 0);
    }

    void missingRemotePlugin_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("remoteEnabled");
        QTest::addColumn<QByteArray>("plugin"); // written beside the copy when not null
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QStringList run { u"--servers"_s, u"@file"_s, u"--until-stopped"_s };
        QTest::newRow("remote access on") << run << u"1"_s << QByteArray() << 3 << u"wardlampd-remote.so is missing"_s;
        QTest::newRow("pair") << QStringList { u"pair"_s } << QString() << QByteArray() << 3
                              << u"wardlampd-remote.so is missing"_s;
        QTest::newRow("remote status") << QStringList { u"remote"_s, u"status"_s } << QString() << QByteArray() << 3
                                       << u"wardlampd-remote.so is missing"_s;
        QTest::newRow("not a library") << run << u"yes"_s << QByteArray("not an ELF file") << 3
                                       << u"wardlampd-remote.so cannot be loaded: "_s;
        QTest::newRow("remote access off") << run << u"0"_s << QByteArray() << 0 << QString();
    }

    // wardlampd without a usable remote plugin beside it: runs that need remote
    // access say why and start nothing; the others run as ever.
    void missingRemotePlugin()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, remoteEnabled);
        QFETCH(QByteArray, plugin);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const QString directory = m_environment->path(u"alone-%1"_s.arg(++m_files));
        const QString alone = directory + u"/wardlampd"_s;
        QVERIFY(QDir().mkpath(directory));
        QVERIFY(QFile::copy(program(), alone));
        if (!plugin.isNull()) {
            QFile file(directory + u"/wardlampd-remote.so"_s);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(plugin);
        }
        const QString file = writeServers({ server(u"a"_s, child({ u"out:a ran"_s })) });
        arguments.replaceInStrings(u"@file"_s, file);
        QProcessEnvironment env = environment();
        if (!remoteEnabled.isNull())
            env.insert(u"WL_REMOTE_ENABLED"_s, remoteEnabled);

        QProcess daemon;
        daemon.setProcessEnvironment(env);
        daemon.start(alone, arguments);
        QVERIFY(daemon.waitForFinished(waitMs(20000)));
        QCOMPARE(daemon.exitCode(), exitCode);
        const QString error = QString::fromUtf8(daemon.readAllStandardError());
        const QByteArray output = daemon.readAllStandardOutput();
        if (exitCode == 3) {
            QVERIFY2(error.startsWith(u"wardlampd: "_s), qPrintable(error));
            QVERIFY2(error.contains(directory + u'/' + message), qPrintable(error));
            QCOMPARE(error.count(u'\n'), 1);
            QCOMPARE(output, QByteArray());
        } else {
            QVERIFY2(output.contains("a ran"), output.constData());
        }
    }

    // The remote plugin beside wardlampd loads with every symbol bound and runs
    // on wardlampd's own supervision classes (it has no second copy of them:
    // in a sanitized build a copy is reported as an ODR violation and aborts).
    void remoteCommandRunsThroughThePlugin()
    {
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"remote"_s, u"status"_s });
        QVERIFY(daemon.waitForFinished(waitMs(20000)));
        const QByteArray error = daemon.readAllStandardError();
        QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
        QVERIFY2(daemon.exitCode() == 0, error.constData());
        QVERIFY2(daemon.readAllStandardOutput().contains("remote access: off"), error.constData());
    }

    void pairWhenTheSecretStoreFailsSaysSo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("pair") << QStringList { u"pair"_s };
        QTest::newRow("pair --rotate") << QStringList { u"pair"_s, u"--rotate"_s };
    }

    // The file store cannot be written (a file stands where its folder
    // goes): the key is not kept, so none is shown and the status says so.
    void pairWhenTheSecretStoreFailsSaysSo()
    {
        QFETCH(QStringList, arguments);
        const QString data = m_environment->path(u"broken-store-%1"_s.arg(++m_files));
        QVERIFY(QDir().mkpath(data));
        QFile blocker(data + u"/wardlamp"_s);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QProcessEnvironment env = environment();
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        env.insert(u"XDG_DATA_HOME"_s, data);
        const Run run = wardlampd(arguments, env);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(u"could not store the pairing key"_s), qPrintable(run.err));
        QVERIFY2(!run.out.contains(u"Pairing key for"_s), qPrintable(run.out));

        // With a store that works, the same command succeeds.
        QVERIFY(QFile::remove(data + u"/wardlamp"_s));
        const Run again = wardlampd(arguments, env);
        QCOMPARE(again.exitCode, 0);
        QVERIFY2(again.out.contains(u"Pairing key for"_s), qPrintable(again.err));
    }

    void noPrivateFolderForTheControlSocket_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("supervise") << QStringList { u"--until-stopped"_s };
        QTest::newRow("ls") << QStringList { u"ls"_s };
        QTest::newRow("add") << QStringList { u"add"_s, u"x"_s, u"--"_s, u"true"_s };
    }

    // Neither candidate folder can be made (no XDG_RUNTIME_DIR, and a file
    // where /tmp/wardlamp-UID goes, in a /tmp of the run's own): status 8 and
    // what is wrong, not "already supervised".
    void noPrivateFolderForTheControlSocket()
    {
        QFETCH(QStringList, arguments);
        // The tmpfs laid over /tmp would hide a program built below it.
        if (QFileInfo(program()).canonicalFilePath().startsWith(u"/tmp/"_s))
            QSKIP("the build lives under /tmp, which this test covers with an empty tmpfs");
        QProcessEnvironment env = environment();
        env.remove(u"XDG_RUNTIME_DIR"_s);
        QProcess probe;
        probe.start(u"unshare"_s, { u"--mount"_s, u"sh"_s, u"-c"_s, u"mount -t tmpfs none /tmp"_s });
        if (!probe.waitForFinished(waitMs(10000)) || probe.exitStatus() != QProcess::NormalExit
            || probe.exitCode() != 0)
            QSKIP("no mount namespace here (unshare --mount needs root or user namespaces)");
        QStringList words { u"--mount"_s, u"sh"_s, u"-c"_s,
            u"mount -t tmpfs none /tmp && : > /tmp/wardlamp-$(id -u) && exec \"$0\" \"$@\""_s, program() };
        words += arguments;
        QProcess daemon;
        daemon.setProcessEnvironment(env);
        daemon.start(u"unshare"_s, words);
        QVERIFY(daemon.waitForFinished(waitMs(20000)));
        const QString error = QString::fromUtf8(daemon.readAllStandardError());
        QCOMPARE(daemon.exitCode(), 8);
        QVERIFY2(error.contains(u"cannot set up this configuration's lock and control socket: "_s), qPrintable(error));
        QVERIFY2(error.contains(u"is not a directory"_s), qPrintable(error));
    }

    void untilStoppedWithNothingToStart()
    {
        const QString file = writeServers({ server(u"idle"_s, child({ u"out:never"_s }), false) });
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--servers"_s, file, u"--until-stopped"_s });
        QVERIFY(daemon.waitForFinished(waitMs(10000)));
        QCOMPARE(daemon.exitCode(), 0);
        QCOMPARE(daemon.readAllStandardOutput(), QByteArray());
    }

    // A crashed server with restartOnCrash comes back once (the second crash
    // falls in the cooldown); --until-stopped waits for that restart instead
    // of leaving while it is pending.
    void untilStoppedWaitsForACrashRestart()
    {
        ServerConfig crashing = server(u"crashy"_s, child({ u"out:up"_s, u"exit:1"_s }));
        crashing.restartOnCrash = true;
        const QString file = writeServers({ crashing });
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--servers"_s, file, u"--until-stopped"_s });
        QVERIFY(daemon.waitForFinished(waitMs(30000)));
        const QString out = QString::fromUtf8(daemon.readAllStandardOutput());
        const QString err = QString::fromUtf8(daemon.readAllStandardError());
        QCOMPARE(daemon.exitCode(), 1);
        QCOMPARE(out.count(u" crashy | up\n"_s), 2);
        QCOMPARE(out.count(u"\u21BB Auto-restarting\u2026"_s), 1);
        QVERIFY2(err.contains(u"summary: crashy: error"_s), qPrintable(err));
    }

    // A server that finds its port taken is started again once the port is
    // freed; --until-stopped waits for that second run.
    void untilStoppedWaitsForAPortRecovery()
    {
        const quint16 port = Wardlamp::Test::freeTcpPort();
        QVERIFY(port != 0);
        QProcess blocker;
        blocker.start(Wardlamp::Test::program(u"wl-test-child"_s), { u"listen:%1"_s.arg(port), u"hold"_s });
        QVERIFY(blocker.waitForReadyRead(waitMs(10000)));
        QVERIFY(blocker.readAllStandardOutput().startsWith("listening"));

        const QString file = writeServers({ server(u"bind"_s, child({ u"listen:%1"_s.arg(port), u"exit:0"_s })) });
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--servers"_s, file, u"--until-stopped"_s });
        QVERIFY(daemon.waitForFinished(waitMs(30000)));
        const QString out = QString::fromUtf8(daemon.readAllStandardOutput());
        QVERIFY2(out.contains(u" bind ! Error: listen EADDRINUSE"_s), qPrintable(out));
        QVERIFY2(out.contains(u" bind | listening %1\n"_s.arg(port)), qPrintable(out));
        QCOMPARE(daemon.exitCode(), 0);
        QVERIFY(blocker.waitForFinished(waitMs(10000))); // the daemon freed the port
    }

    void blankCommandIsAFailure()
    {
        const QString file = writeServers({ server(u"blank"_s, u"  \t "_s) });
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--servers"_s, file, u"--until-stopped"_s });
        QVERIFY(daemon.waitForFinished(waitMs(10000)));
        QCOMPARE(daemon.exitCode(), 1);
        QVERIFY(daemon.readAllStandardOutput().contains(" blank ! No command configured.\n"));
    }

    void serversFromStandardInput()
    {
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--servers"_s, u"-"_s, u"--until-stopped"_s });
        QVERIFY(daemon.waitForStarted(waitMs(10000)));
        daemon.write(ServerConfig::encodeList({ server(u"piped"_s, child({ u"out:from stdin"_s })) }));
        daemon.closeWriteChannel();
        QVERIFY(daemon.waitForFinished(waitMs(30000)));
        QCOMPARE(daemon.exitCode(), 0);
        QVERIFY(daemon.readAllStandardOutput().contains(" piped | from stdin\n"));
    }

    // A reader of the log that goes away (wardlampd | head) stops the printing,
    // not the supervision: the server runs to its end and the run ends normally.
    void readerGoneKeepsSupervising()
    {
        const QString done = m_environment->path(u"reader-gone.pid"_s);
        QFile::remove(done);
        const QString file = writeServers(
            { server(u"chatty"_s, child({ u"lines:2000"_s, u"sleep:300"_s, u"lines:2000"_s, u"pidfile:"_s + done })) });
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--servers"_s, file, u"--until-stopped"_s });
        QVERIFY(daemon.waitForStarted(waitMs(10000)));
        daemon.closeReadChannel(QProcess::StandardOutput);
        QVERIFY(daemon.waitForFinished(waitMs(30000)));
        QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
        QCOMPARE(daemon.exitCode(), 0);
        QVERIFY(QFile::exists(done)); // the server got to its last step
        const QString err = QString::fromUtf8(daemon.readAllStandardError());
        QVERIFY2(
            err.contains(u"summary: chatty: stopped, 4002 lines, 0 error lines, last exit code 0"_s), qPrintable(err));
    }

    void runsTheSavedListOrTheSeed()
    {
        // The saved list: its one server is not autostart; make it so.
        const ServerConfig saved = server(u"saved"_s, child({ u"out:saved ran"_s }));
        {
            QSettings settings(m_settingsPath, QSettings::IniFormat);
            settings.setValue(u"wardlamp.servers"_s, ServerConfig::encodeList({ saved }));
        }
        const QByteArray before = readFile(m_settingsPath);
        QProcess fromSaved;
        fromSaved.setProcessEnvironment(environment());
        fromSaved.start(program(), { u"--until-stopped"_s });
        QVERIFY(fromSaved.waitForFinished(waitMs(30000)));
        QCOMPARE(fromSaved.exitCode(), 0);
        QVERIFY(fromSaved.readAllStandardOutput().contains(" saved | saved ran\n"));
        QCOMPARE(readFile(m_settingsPath), before);

        QProcessEnvironment seeded = environment();
        seeded.insert(u"WL_SEED_SERVERS"_s,
            QString::fromUtf8(ServerConfig::encodeList({ server(u"seeded"_s, child({ u"out:seed ran"_s })) })));
        QProcess fromSeed;
        fromSeed.setProcessEnvironment(seeded);
        fromSeed.start(program(), { u"--until-stopped"_s });
        QVERIFY(fromSeed.waitForFinished(waitMs(30000)));
        QCOMPARE(fromSeed.exitCode(), 0);
        const QByteArray out = fromSeed.readAllStandardOutput();
        QVERIFY2(out.contains(" seeded | seed ran\n") && !out.contains("saved ran"), out.constData());
        QCOMPARE(readFile(m_settingsPath), before);
    }

    void stopOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QStringList>("steps"); // @P1 and @P2 become pid file paths
        QTest::addColumn<bool>("ignoresTerm");

        const QStringList tree { u"pidfile:@P1"_s, u"grandchild"_s, u"{"_s, u"pidfile:@P2"_s, u"hold"_s, u"}"_s,
            u"hold"_s };
        QTest::newRow("SIGTERM, tree") << int(SIGTERM) << tree << false;
        QTest::newRow("SIGINT, tree") << int(SIGINT) << tree << false;
        QTest::newRow("SIGTERM, ignores SIGTERM")
            << int(SIGTERM)
            << QStringList { u"ignore-term"_s, u"pidfile:@P1"_s, u"grandchild"_s, u"{"_s, u"ignore-term"_s,
                   u"pidfile:@P2"_s, u"hold"_s, u"}"_s, u"hold"_s }
            << true;
        QTest::newRow("SIGTERM, grandchild in its own session")
            << int(SIGTERM)
            << QStringList { u"pidfile:@P1"_s, u"setsid-grandchild"_s, u"{"_s, u"pidfile:@P2"_s, u"hold"_s, u"}"_s,
                   u"hold"_s }
            << false;
    }

    // The daemon ends every server tree (SIGKILL after the grace period for
    // what ignores SIGTERM) and exits only once all of it is gone.
    void stopOnSignal()
    {
        QFETCH(int, signalNumber);
        QFETCH(QStringList, steps);
        QFETCH(bool, ignoresTerm);

        const QString p1
            = m_environment->path(u"p1-%1.pid"_s.arg(QString::fromUtf8(QTest::currentDataTag())).remove(u' '));
        const QString p2
            = m_environment->path(u"p2-%1.pid"_s.arg(QString::fromUtf8(QTest::currentDataTag())).remove(u' '));
        QFile::remove(p1);
        QFile::remove(p2);
        for (QString& step : steps)
            step.replace(u"@P1"_s, p1).replace(u"@P2"_s, p2);
        const QString file = writeServers({ server(u"tree"_s, child(steps)) });

        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--servers"_s, file, u"--grace"_s, u"1"_s });
        QVERIFY(daemon.waitForStarted(waitMs(10000)));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(p1) && QFile::exists(p2), waitMs(20000));
        const qint64 childPid = pidFrom(p1);
        const qint64 grandchildPid = pidFrom(p2);
        QVERIFY(childPid > 0 && grandchildPid > 0);
        QVERIFY(processExists(childPid) && processExists(grandchildPid));

        QElapsedTimer elapsed;
        elapsed.start();
        ::kill(pid_t(daemon.processId()), signalNumber);
        QVERIFY(daemon.waitForFinished(waitMs(20000)));
        const qint64 tookMs = elapsed.elapsed();
        // Once the daemon is gone, so is everything it started.
        QVERIFY(!processExists(childPid));
        QVERIFY(!processExists(grandchildPid));
        QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
        QCOMPARE(daemon.exitCode(), 0);
        if (ignoresTerm)
            QVERIFY2(tookMs >= 900, qPrintable(QString::number(tookMs))); // it waited out the grace period
        const QString err = QString::fromUtf8(daemon.readAllStandardError());
        QVERIFY2(err.contains(u"stopping every server"_s), qPrintable(err));
        QCOMPARE(readFile(m_settingsPath), m_savedBytes);
    }

    // A second signal does not wait out a long grace period.
    void secondSignalKillsAtOnce()
    {
        const QString pidFile = m_environment->path(u"stubborn.pid"_s);
        QFile::remove(pidFile);
        const QString file
            = writeServers({ server(u"stubborn"_s, child({ u"ignore-term"_s, u"pidfile:"_s + pidFile, u"hold"_s })) });
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--servers"_s, file, u"--grace"_s, u"600"_s });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), waitMs(20000));
        const qint64 pid = pidFrom(pidFile);

        QByteArray err;
        ::kill(pid_t(daemon.processId()), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += daemon.readAllStandardError()).contains("stopping every server"), waitMs(10000));
        QVERIFY(processExists(pid)); // it ignores SIGTERM and the grace is long
        ::kill(pid_t(daemon.processId()), SIGINT);
        QVERIFY(daemon.waitForFinished(waitMs(20000)));
        QCOMPARE(daemon.exitCode(), 0);
        QVERIFY(!processExists(pid));
        err += daemon.readAllStandardError();
        QVERIFY2(err.contains("SIGINT again: SIGKILL to every server now"), err.constData());
    }

    // One supervisor per configuration: a second wardlampd is refused with
    // one line naming the first, and starts nothing; another configuration
    // runs beside it.
    void secondSupervisorIsRefused()
    {
        const QString pidFile = m_environment->path(u"held.pid"_s);
        QFile::remove(pidFile);
        const QString file = writeServers({ server(u"holder"_s, child({ u"pidfile:"_s + pidFile, u"hold"_s })) });
        QProcess first;
        first.setProcessEnvironment(environment());
        first.start(program(), { u"--servers"_s, file });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), waitMs(20000));

        QProcess second;
        second.setProcessEnvironment(environment());
        second.start(program(), { u"--servers"_s, file, u"--until-stopped"_s });
        QVERIFY(second.waitForFinished(waitMs(20000)));
        const QString error = QString::fromUtf8(second.readAllStandardError());
        QCOMPARE(second.exitCode(), 4);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());
        QCOMPARE(error.count(u'\n'), 1);
        QVERIFY2(error.startsWith(
                     u"wardlampd: wardlampd (pid %1) already supervises this configuration"_s.arg(first.processId())),
            qPrintable(error));

        // Another configuration (its own XDG_CONFIG_HOME) is another lock.
        QProcessEnvironment elsewhere = environment();
        elsewhere.insert(u"XDG_CONFIG_HOME"_s, m_environment->path(u"elsewhere"_s));
        QProcess third;
        third.setProcessEnvironment(elsewhere);
        third.start(program(),
            { u"--servers"_s, writeServers({ server(u"quick"_s, child({ u"out:ran"_s })) }), u"--until-stopped"_s });
        QVERIFY(third.waitForFinished(waitMs(20000)));
        QCOMPARE(third.exitCode(), 0);
        QVERIFY(third.readAllStandardOutput().contains(" quick | ran\n"));

        first.terminate();
        QVERIFY(first.waitForFinished(waitMs(20000)));
        QCOMPARE(first.exitCode(), 0);
    }

    // A supervisor killed outright leaves its lock file behind; the next start
    // is not blocked by it.
    void staleLockDoesNotBlock()
    {
        const QString pidFile = m_environment->path(u"killed.pid"_s);
        QFile::remove(pidFile);
        QProcess killed;
        killed.setProcessEnvironment(environment());
        killed.start(program(),
            { u"--servers"_s, writeServers({ server(u"held"_s, child({ u"pidfile:"_s + pidFile, u"hold"_s })) }) });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), waitMs(20000));
        ::kill(pid_t(killed.processId()), SIGKILL);
        QVERIFY(killed.waitForFinished(waitMs(20000)));

        QProcess next;
        next.setProcessEnvironment(environment());
        next.start(program(),
            { u"--servers"_s, writeServers({ server(u"next"_s, child({ u"out:next ran"_s })) }),
                u"--until-stopped"_s });
        QVERIFY(next.waitForFinished(waitMs(20000)));
        QVERIFY2(next.exitCode() == 0, next.readAllStandardError().constData());
        QVERIFY(next.readAllStandardOutput().contains(" next | next ran\n"));
        // The killed supervisor's server went with it (it is no one's now).
        const qint64 orphan = pidFrom(pidFile);
        const bool gone = QTest::qWaitFor([&] { return !processExists(orphan); }, waitMs(5000));
        if (!gone)
            ::kill(pid_t(orphan), SIGKILL);
    }

    // `wardlampd ls` reaches the running supervisor: status, pid, uptime,
    // restarts and the port a server's tree listens on.
    void lsThroughTheControlSocket()
    {
        const quint16 port = Wardlamp::Test::freeTcpPort();
        QVERIFY(port != 0);
        const ServerConfig web = server(u"web"_s, child({ u"listen:%1"_s.arg(port), u"hold"_s }));
        const ServerConfig idle = server(u"idle"_s, child({ u"out:never"_s }), false);
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--servers"_s, writeServers({ web, idle }) });
        QVERIFY(daemon.waitForStarted(waitMs(10000)));

        QJsonObject listed;
        const bool listening = QTest::qWaitFor(
            [&] {
                const Run ls = wardlampd({ u"ls"_s, u"--json"_s });
                listed = QJsonDocument::fromJson(ls.out.toUtf8()).object();
                const QJsonArray servers = listed.value(u"servers"_s).toArray();
                return ls.exitCode == 0 && !servers.isEmpty()
                    && servers.at(0).toObject().value(u"ports"_s).toArray().contains(int(port));
            },
            waitMs(20000));
        QVERIFY2(listening, QJsonDocument(listed).toJson().constData());
        const QJsonArray servers = listed.value(u"servers"_s).toArray();
        QCOMPARE(servers.size(), 2);
        const QJsonObject first = servers.at(0).toObject();
        QCOMPARE(first.value(u"name"_s).toString(), u"web"_s);
        QCOMPARE(first.value(u"status"_s).toString(), u"running"_s);
        QCOMPARE(first.value(u"restarts"_s).toInt(), 0);
        QVERIFY(first.value(u"pid"_s).toInt() > 0);
        QVERIFY(first.contains(u"uptimeSeconds"_s));
        const QJsonObject second = servers.at(1).toObject();
        QCOMPARE(second.value(u"status"_s).toString(), u"stopped"_s);
        QCOMPARE(second.value(u"ports"_s).toArray(), QJsonArray());

        const Run table = wardlampd({ u"ls"_s });
        QCOMPARE(table.exitCode, 0);
        QVERIFY2(table.err.isEmpty(), qPrintable(table.err));
        const QStringList lines = table.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(1).simplified(), u"NAME STATUS PID UPTIME RESTARTS PORTS ID"_s);
        QVERIFY2(lines.at(2).simplified().startsWith(u"web running %1 "_s.arg(first.value(u"pid"_s).toInt())),
            qPrintable(lines.at(2)));
        QVERIFY2(lines.at(2).contains(u" %1 "_s.arg(port)), qPrintable(lines.at(2)));

        daemon.terminate();
        QVERIFY(daemon.waitForFinished(waitMs(20000)));
    }

    // With nothing running, ls shows the saved list (all stopped) and says so.
    void lsWithoutASupervisor()
    {
        const Run table = wardlampd({ u"ls"_s });
        QCOMPARE(table.exitCode, 0);
        const QStringList lines = table.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines.at(2).simplified().startsWith(u"saved stopped - - "_s), qPrintable(table.out));
        QVERIFY2(table.err.contains(u"nothing supervises these servers now"_s), qPrintable(table.err));
        QCOMPARE(readFile(m_settingsPath), m_savedBytes);
    }

    // Every verb goes through the running supervisor and takes effect there:
    // a server added is in its list, saved by it, and can be started, read,
    // followed, restarted, renamed and removed.
    void verbsReachTheRunningSupervisor()
    {
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), QStringList {});
        QVERIFY(daemon.waitForStarted(waitMs(10000)));
        QTRY_VERIFY_WITH_TIMEOUT(wardlampd({ u"ls"_s }).err.isEmpty(), waitMs(20000));

        const QString missing = m_environment->path(u"not-yet"_s);
        Run added = wardlampd({ u"add"_s, u"web"_s, u"--dir"_s, missing, u"--"_s, u"true"_s });
        QCOMPARE(added.exitCode, 0);
        QVERIFY2(added.err.contains(u"warning: the directory %1 does not exist"_s.arg(missing)), qPrintable(added.err));
        added = wardlampd({ u"add"_s, u"api"_s, u"--restart-on-crash"_s, u"--"_s,
            Wardlamp::Test::program(u"wl-test-child"_s), u"out:hello api"_s, u"hold"_s });
        QVERIFY2(added.exitCode == 0, qPrintable(added.err));
        QVERIFY2(added.out.startsWith(u"added \"api\" ("_s), qPrintable(added.out));

        // Refused, and nothing changes.
        const Run empty = wardlampd({ u"add"_s, u"blank"_s, u"--"_s, u" "_s });
        QCOMPARE(empty.exitCode, 2);
        QVERIFY2(empty.err.contains(u"the command is empty"_s), qPrintable(empty.err));
        const Run taken = wardlampd({ u"add"_s, u"API"_s, u"--"_s, u"true"_s });
        QCOMPARE(taken.exitCode, 2);
        QVERIFY2(taken.err.contains(u"a server named \"api\" already exists"_s), qPrintable(taken.err));
        const Run unknown = wardlampd({ u"start"_s, u"db"_s });
        QCOMPARE(unknown.exitCode, 7);
        QVERIFY2(unknown.err.contains(u"no server \"db\"; the servers: saved, web, api"_s), qPrintable(unknown.err));

        // Saved by the supervisor at once.
        {
            QSettings settings(m_settingsPath, QSettings::IniFormat);
            const auto saved = ServerConfig::decodeList(settings.value(u"wardlamp.servers"_s).toByteArray());
            QVERIFY(saved);
            QCOMPARE(saved->size(), 3);
            QCOMPARE(saved->at(2).name, u"api"_s);
            QVERIFY(saved->at(2).restartOnCrash);
        }

        const Run started = wardlampd({ u"start"_s, u"api"_s });
        QCOMPARE(started.exitCode, 0);
        QVERIFY2(QRegularExpression(u"^api: running \\(pid \\d+\\)\n$"_s).match(started.out).hasMatch(),
            qPrintable(started.out));
        QTRY_VERIFY_WITH_TIMEOUT(wardlampd({ u"logs"_s, u"api"_s }).out.contains(u"  hello api\n"_s), waitMs(20000));

        // A follower sees the restart's lines as they come.
        QProcess follower;
        follower.setProcessEnvironment(environment());
        follower.start(program(), { u"logs"_s, u"api"_s, u"-f"_s, u"-n"_s, u"1"_s });
        QByteArray followed;
        QTRY_VERIFY_WITH_TIMEOUT((followed += follower.readAllStandardOutput()).contains("hello api"), waitMs(20000));
        QCOMPARE(wardlampd({ u"restart"_s, u"api"_s }).exitCode, 0);
        QTRY_VERIFY2_WITH_TIMEOUT((followed += follower.readAllStandardOutput()).count("  hello api\n") == 2,
            followed.constData(), waitMs(20000));
        QVERIFY2(followed.contains("\u25A0 Stopped (restarting\u2026)"), followed.constData());
        follower.kill();
        follower.waitForFinished();

        const Run previous = wardlampd({ u"logs"_s, u"api"_s, u"--previous"_s });
        QCOMPARE(previous.exitCode, 0);
        QVERIFY2(previous.out.contains(u"  hello api\n"_s), qPrintable(previous.out));
        QVERIFY2(previous.out.contains(u"  \u25A0 Stopped (restarting\u2026)\n"_s), qPrintable(previous.out));
        QVERIFY2(previous.err.contains(u"the run of \"api\" before the current one"_s)
                && previous.err.contains(u"when asked to stop"_s),
            qPrintable(previous.err));

        const Run listed = wardlampd({ u"ls"_s, u"--json"_s });
        const QJsonArray servers = QJsonDocument::fromJson(listed.out.toUtf8()).object().value(u"servers"_s).toArray();
        QCOMPARE(servers.at(2).toObject().value(u"restarts"_s).toInt(), 1);

        const Run renamed = wardlampd({ u"edit"_s, u"api"_s, u"--name"_s, u"gateway"_s });
        QCOMPARE(renamed.exitCode, 0);
        QVERIFY(wardlampd({ u"ls"_s }).out.contains(u"gateway"_s));
        QCOMPARE(wardlampd({ u"rm"_s, u"web"_s }).exitCode, 0);
        const Run stopped = wardlampd({ u"stop"_s, u"--all"_s });
        QCOMPARE(stopped.exitCode, 0);
        QVERIFY2(stopped.out.contains(u"gateway: stopped\n"_s), qPrintable(stopped.out));

        // export, then an import with one bad entry: nothing changes, the entry is named.
        const Run exported = wardlampd({ u"export"_s });
        QCOMPARE(exported.exitCode, 0);
        const auto list = ServerConfig::decodeList(exported.out.toUtf8());
        QVERIFY2(list && list->size() == 2, qPrintable(exported.out));
        QByteArray bad = ServerConfig::encodeList({ server(u"new"_s, u"true"_s) });
        bad.chop(1);
        bad += ",{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"name\":\"broken\",\"autostart\":true}]";
        const QString badFile = m_environment->path(u"bad-import.json"_s);
        {
            QFile file(badFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bad);
        }
        const Run refused = wardlampd({ u"import"_s, badFile });
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.contains(u"nothing was imported"_s) && refused.err.contains(u"record 2"_s)
                && refused.err.contains(u"\"broken\""_s),
            qPrintable(refused.err));
        QCOMPARE(wardlampd({ u"export"_s }).out, exported.out);

        daemon.terminate();
        QVERIFY(daemon.waitForFinished(waitMs(20000)));
        QCOMPARE(daemon.exitCode(), 0);
        // A server added while the daemon ran prints under its name, and
        // under its new one once renamed.
        const QByteArray printed = daemon.readAllStandardOutput();
        QVERIFY2(printed.contains(" api | hello api\n"), printed.constData());
        QVERIFY2(printed.contains(" gateway | \u25A0 Stopped.\n"), printed.constData());
        QVERIFY2(!printed.contains(" ? | "), printed.constData());
    }

    // With nothing running, the list verbs edit the saved settings, and the
    // verbs that need running servers say so and how to start them.
    void verbsWithoutASupervisor()
    {
        const Run added = wardlampd({ u"add"_s, u"cli"_s, u"--autostart"_s, u"--"_s, u"npm"_s, u"run"_s, u"dev"_s });
        QCOMPARE(added.exitCode, 0);
        QSettings settings(m_settingsPath, QSettings::IniFormat);
        const auto saved = ServerConfig::decodeList(settings.value(u"wardlamp.servers"_s).toByteArray());
        QVERIFY(saved);
        QCOMPARE(saved->size(), 2);
        QCOMPARE(saved->at(1).command, u"npm run dev"_s);
        QVERIFY(saved->at(1).autostart);

        for (const QStringList& verb : { QStringList { u"start"_s, u"cli"_s }, QStringList { u"logs"_s, u"cli"_s },
                 QStringList { u"stop"_s, u"--all"_s } }) {
            const Run refused = wardlampd(verb);
            QCOMPARE(refused.exitCode, 5);
            QVERIFY2(refused.err.contains(u"nothing supervises this configuration"_s)
                    && refused.err.contains(u"`wardlampd`"_s),
                qPrintable(refused.err));
        }
        QCOMPARE(wardlampd({ u"rm"_s, u"cli"_s }).exitCode, 0);
        QCOMPARE(readFile(m_settingsPath), m_savedBytes);
    }

    // A list typed into the settings file by hand (as the README describes
    // it) runs, and neither it nor the rest of the file is lost.
    void handWrittenListRunsAndIsKept()
    {
        const ServerConfig first = server(u"first, typed"_s, child({ u"out:first ran"_s }));
        const ServerConfig second = server(u"second"_s, child({ u"out:second ran"_s }));
        const QByteArray typed
            = "; typed by hand\n[General]\nwardlamp.servers=" + ServerConfig::encodeList({ first, second }) + "\n";
        {
            QFile file(m_settingsPath);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(typed);
        }
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--until-stopped"_s });
        QVERIFY(daemon.waitForFinished(waitMs(30000)));
        const QByteArray out = daemon.readAllStandardOutput();
        const QString err = QString::fromUtf8(daemon.readAllStandardError());
        QVERIFY2(daemon.exitCode() == 0, qPrintable(err));
        QVERIFY2(
            out.contains(" first, typed | first ran\n") && out.contains(" second | second ran\n"), out.constData());
        QVERIFY2(err.contains(u"was written by hand and is read as typed"_s), qPrintable(err));
        QCOMPARE(readFile(m_settingsPath + u".hand-written"_s), typed);
        QSettings settings(m_settingsPath, QSettings::IniFormat);
        QCOMPARE(ServerConfig::decodeList(settings.value(u"wardlamp.servers"_s).toByteArray()).value(),
            (QList<ServerConfig> { first, second }));
        QFile::remove(m_settingsPath + u".hand-written"_s);
    }

    // `wardlampd | less`, a slow link, Ctrl+S: a standard output that nobody
    // reads used to block the main thread, and with it SIGTERM, exits and
    // restarts. Now the output waits (bounded) and supervision goes on.
    void blockedStandardOutputDoesNotStallSupervision()
    {
        int pipeFds[2];
        QCOMPARE(::pipe2(pipeFds, O_CLOEXEC), 0);
        const QString pidFile = m_environment->path(u"blocked.pid"_s);
        QFile::remove(pidFile);
        const QString file
            = writeServers({ server(u"chatty"_s, child({ u"lines:100000"_s, u"pidfile:"_s + pidFile, u"hold"_s })) });
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        const int writeEnd = pipeFds[1];
        daemon.setChildProcessModifier([writeEnd] { ::dup2(writeEnd, STDOUT_FILENO); });
        daemon.start(program(), { u"--servers"_s, file, u"--until-stopped"_s, u"--grace"_s, u"1"_s });
        QVERIFY(daemon.waitForStarted(waitMs(10000)));
        ::close(pipeFds[1]);
        // The server has written everything; the pipe (never read) is full.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), waitMs(30000));

        ::kill(pid_t(daemon.processId()), SIGTERM);
        const bool ended = daemon.waitForFinished(waitMs(20000));
        if (!ended) {
            daemon.kill();
            daemon.waitForFinished();
        }
        ::close(pipeFds[0]);
        QVERIFY2(ended, "wardlampd did not end while its standard output was blocked");
        QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
        const QString err = QString::fromUtf8(daemon.readAllStandardError());
        QVERIFY2(err.contains(u"stopping every server"_s), qPrintable(err));
        // The log kept every line, whatever the terminal was shown.
        const QRegularExpressionMatch summary
            = QRegularExpression(u"summary: chatty: stopped, (\\d+) lines"_s).match(err);
        QVERIFY2(summary.hasMatch() && summary.captured(1).toInt() > 100000, qPrintable(err));
    }

    // Debug and info messages of wardlamp's own categories only with -v or
    // QT_LOGGING_RULES; warnings always.
    void debugMessagesOnlyWhenAskedFor_data()
    {
        QTest::addColumn<QStringList>("extraArguments");
        QTest::addColumn<QString>("rules");
        QTest::addColumn<bool>("shown");
        QTest::newRow("default") << QStringList() << QString() << false;
        QTest::newRow("-v") << QStringList { u"-v"_s } << QString() << true;
        QTest::newRow("QT_LOGGING_RULES") << QStringList() << u"wardlamp.*.debug=true"_s << true;
    }

    void debugMessagesOnlyWhenAskedFor()
    {
        QFETCH(QStringList, extraArguments);
        QFETCH(QString, rules);
        QFETCH(bool, shown);
        // A daemonising server leaves an orphan the subreaper collects (a
        // debug line) while the server is still running.
        const QString file = writeServers({ server(u"forker"_s,
            child({ u"setsid-grandchild"_s, u"{"_s, u"grandchild"_s, u"{"_s, u"sleep:200"_s, u"}"_s, u"}"_s, u"wait"_s,
                u"sleep:"_s + QString::number(waitMs(1500)) })) });
        QProcessEnvironment env = environment();
        env.remove(u"QT_LOGGING_RULES"_s);
        if (!rules.isEmpty())
            env.insert(u"QT_LOGGING_RULES"_s, rules);
        QProcess daemon;
        daemon.setProcessEnvironment(env);
        daemon.start(program(), QStringList { u"--servers"_s, file, u"--until-stopped"_s } + extraArguments);
        QVERIFY(daemon.waitForFinished(waitMs(30000)));
        QCOMPARE(daemon.exitCode(), 0);
        const QString err = QString::fromUtf8(daemon.readAllStandardError());
        QVERIFY2(err.contains(u"reaped orphan"_s) == shown, qPrintable(err));
    }

    // A server's text cannot clear the screen, move the cursor or retitle the
    // terminal: colours pass on a colour terminal, everything else goes, and
    // each log line stays one terminal line.
    void serverTextCannotDriveTheTerminal_data()
    {
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("colour") << u"always"_s << QByteArray("\x1b[31mred\x1b[0m then over\x1b[0m");
        QTest::newRow("no colour") << u"never"_s << QByteArray("red then over");
    }

    void serverTextCannotDriveTheTerminal()
    {
        QFETCH(QString, colour);
        QFETCH(QByteArray, expected);
        const QString text = u"\x1b[2J\x1b[H\x1b]0;pwned\x07\x1b[31mred\x1b[0m then\r over\x1b[?25l"_s;
        const QString file = writeServers({ server(u"rude"_s, child({ u"out:"_s + text })) });
        QProcess daemon;
        daemon.setProcessEnvironment(environment());
        daemon.start(program(), { u"--servers"_s, file, u"--until-stopped"_s, u"--color"_s, colour });
        QVERIFY(daemon.waitForFinished(waitMs(30000)));
        const QByteArray out = daemon.readAllStandardOutput();
        QByteArray line;
        for (const QByteArray& candidate : out.split('\n')) {
            if (candidate.contains("red"))
                line = candidate;
        }
        QVERIFY2(line.endsWith(expected), out.constData());
        QVERIFY(!line.contains("\x1b[2J") && !line.contains("pwned") && !line.contains('\r') && !line.contains("?25l"));
    }

private:
    QString program() const { return Wardlamp::Test::program(u"wardlampd"_s); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"WL_SEED_SERVERS"_s);
        // bash without a terminal: the manager drops its two job-control lines.
        environment.insert(u"SHELL"_s, u"/bin/bash"_s);
        return environment;
    }

    struct Run {
        int exitCode = -1;
        QString out;
        QString err;
    };

    // Runs a wardlampd verb to its end.
    Run wardlampd(const QStringList& arguments, const QProcessEnvironment& env = {}) const
    {
        QProcess process;
        process.setProcessEnvironment(env.isEmpty() ? environment() : env);
        process.start(program(), arguments);
        Run run;
        if (!process.waitForFinished(waitMs(20000))) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    QString writeServers(const QList<ServerConfig>& servers)
    {
        const QString path = m_environment->path(u"servers-%1.json"_s.arg(++m_files));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(ServerConfig::encodeList(servers));
        return path;
    }

    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_environment;
    QString m_settingsPath;
    QByteArray m_savedBytes;
    int m_files = 0;
};

QTEST_GUILESS_MAIN(TestWardlampd)
#include "TestWardlampd.moc"
