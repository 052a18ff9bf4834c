// The login-shell script and bash's job-control noise. Running a real child in
// hostile directories is covered by TestServerManager.

#include "TestEnvironment.h"
#include "supervision/ShellCommand.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

using namespace Wardlamp;

using OptionalString = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalString)

class TestShellCommand : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    void script_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<OptionalString>("directory");
        QTest::addColumn<QString>("script");
        QTest::newRow("quote in directory")
            << QStringLiteral("bun server.js") << OptionalString(QStringLiteral("/tmp/it's"))
            << QStringLiteral("cd '/tmp/it'\\''s' && exec bun server.js");
        QTest::newRow("no directory") << QStringLiteral("bun server.js") << OptionalString()
                                      << QStringLiteral("exec bun server.js");
        QTest::newRow("empty directory") << QStringLiteral("make run") << OptionalString(QString())
                                         << QStringLiteral("exec make run");
        QTest::newRow("directory not trimmed") << QStringLiteral("x") << OptionalString(QStringLiteral(" /a b "))
                                               << QStringLiteral("cd ' /a b ' && exec x");
        QTest::newRow("command not trimmed")
            << QStringLiteral("  npm start ") << OptionalString() << QStringLiteral("exec   npm start ");
        QTest::newRow("substitutions stay literal")
            << QStringLiteral("x") << OptionalString(QStringLiteral("$(id)`id`$HOME"))
            << QStringLiteral("cd '$(id)`id`$HOME' && exec x");
        QTest::newRow("newline") << QStringLiteral("x") << OptionalString(QStringLiteral("a\nb"))
                                 << QStringLiteral("cd 'a\nb' && exec x");
        QTest::newRow("only quotes") << QStringLiteral("x") << OptionalString(QStringLiteral("''"))
                                     << QStringLiteral("cd ''\\'''\\''' && exec x");
        QTest::newRow("list after cd") << QStringLiteral("npm install && npm run dev")
                                       << OptionalString(QStringLiteral("/srv/app"))
                                       << QStringLiteral(
                                              "cd '/srv/app' && exec '/bin/b'\\''sh' -c 'npm install && npm run dev'");
        QTest::newRow("list, no directory") << QStringLiteral("a 'b c'; d") << OptionalString()
                                            << QStringLiteral("exec '/bin/b'\\''sh' -c 'a '\\''b c'\\''; d'");
        QTest::newRow("assignment") << QStringLiteral("PORT=3000 bun server.js") << OptionalString()
                                    << QStringLiteral("exec '/bin/b'\\''sh' -c 'PORT=3000 bun server.js'");
    }

    void script()
    {
        QFETCH(QString, command);
        QFETCH(OptionalString, directory);
        QFETCH(QString, script);
        const QString shell = QStringLiteral("/bin/b'sh");
        QCOMPARE(ShellCommand::script(command, directory, shell), script);
        QCOMPARE(ShellCommand::arguments(command, directory, shell), (QStringList { QStringLiteral("-lic"), script }));
    }

    // A leading ~ is the home folder, as in a shell; nothing else is expanded.
    void expandedDirectory_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("expanded");
        const auto row = [](const char* name, const char* directory, const char* home, const char* expanded) {
            QTest::newRow(name) << QString::fromUtf8(directory) << QString::fromUtf8(home)
                                << QString::fromUtf8(expanded);
        };
        row("tilde alone", "~", "/home/ann", "/home/ann");
        row("tilde slash", "~/", "/home/ann", "/home/ann/");
        row("tilde path", "~/proj/web", "/home/ann", "/home/ann/proj/web");
        row("home with trailing slash", "~/proj", "/home/ann/", "/home/ann/proj");
        row("root as home", "~/proj", "/", "/proj");
        row("other user", "~bob/proj", "/home/ann", "~bob/proj");
        row("tilde inside", "/srv/~/x", "/home/ann", "/srv/~/x");
        row("leading space", " ~/x", "/home/ann", " ~/x");
        row("no home", "~/proj", "", "~/proj");
        row("quote in home", "~/a", "/home/it's", "/home/it's/a");
    }
    void expandedDirectory()
    {
        QFETCH(QString, directory);
        QFETCH(QString, home);
        QFETCH(QString, expanded);
        QCOMPARE(ShellCommand::expandedDirectory(directory, home), expanded);
    }

    // The script cds into the expanded folder, quoted like any other.
    void scriptExpandsTildeFromHome()
    {
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", "/home/it's");
        const QString script
            = ShellCommand::script(QStringLiteral("x"), QStringLiteral("~/proj"), QStringLiteral("/bin/sh"));
        qputenv("HOME", savedHome);
        QCOMPARE(script, QStringLiteral("cd '/home/it'\\''s/proj' && exec x"));
    }

    // The marker goes out on both streams before anything of the command,
    // its cd included; csh-like shells get none.
    void markedArguments_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("prefix");
        const QString printf = QStringLiteral("printf '\\036wardlamp: the command starts\\036\\n'");
        QTest::newRow("bash") << QStringLiteral("/bin/bash")
                              << printf + QStringLiteral("; ") + printf + QStringLiteral(" >&2; ");
        QTest::newRow("zsh") << QStringLiteral("/usr/bin/zsh")
                             << printf + QStringLiteral("; ") + printf + QStringLiteral(" >&2; ");
        QTest::newRow("tcsh") << QStringLiteral("/bin/tcsh") << QString();
        QTest::newRow("csh") << QStringLiteral("csh") << QString();
    }
    void markedArguments()
    {
        QFETCH(QString, shell);
        QFETCH(QString, prefix);
        QCOMPARE(ShellCommand::marksStart(shell), !prefix.isEmpty());
        QCOMPARE(ShellCommand::arguments(QStringLiteral("bun x.js"), QStringLiteral("/srv"), shell, true),
            (QStringList { QStringLiteral("-lic"), prefix + QStringLiteral("cd '/srv' && exec bun x.js") }));
        QCOMPARE(ShellCommand::arguments(QStringLiteral("bun x.js"), QStringLiteral("/srv"), shell, false),
            (QStringList { QStringLiteral("-lic"), QStringLiteral("cd '/srv' && exec bun x.js") }));
    }

    // What the shells really print for the marker's script: the marker itself.
    void shellsPrintTheMarker_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::newRow("bash") << QStringLiteral("/bin/bash");
        QTest::newRow("dash") << QStringLiteral("/usr/bin/dash");
        QTest::newRow("zsh") << QStringLiteral("/usr/bin/zsh");
    }
    void shellsPrintTheMarker()
    {
        QFETCH(QString, shell);
        if (!QFile::exists(shell))
            QSKIP("this shell is not installed");
        QProcess process;
        process.start(
            shell, { QStringLiteral("-c"), ShellCommand::startMarkerScript(shell) + QStringLiteral("exit 0") });
        QVERIFY(process.waitForFinished(Test::waitMs(10000)));
        const QByteArray line = ShellCommand::startMarker.toByteArray() + '\n';
        QCOMPARE(process.readAllStandardOutput(), line);
        QCOMPARE(process.readAllStandardError(), line);
    }

    // Which command lines "exec " can take whole.
    void takesExec_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("exec");
        const auto row = [](const char* name, const char* command, bool exec) {
            QTest::newRow(name) << QString::fromUtf8(command) << exec;
        };
        row("simple", "bun server.js", true);
        row("leading blanks", " \t npm start", true);
        row("redirections", "node server.js 2>&1 >>log <in &>all", true);
        row("quoted operators", "node -e 'a; b && c | d' \"x;y\" a\\;b", true);
        row("substitutions", "node $(echo a; echo b) `x; y` <(tail -f log) \"$(date; id)\"", true);
        row("braces and globs", "cp {a,b}.js dist/*.js", true);
        row("comment", "npm start # then; more && so on", true);
        row("hash inside a word", "curl host/#a;b", false);
        row("and", "npm install && npm run dev", false);
        row("or", "make || true", false);
        row("semicolon", "a; b", false);
        row("background", "a & b", false);
        row("trailing background", "a &", false);
        row("pipe", "node server.js | tee log", false);
        row("newline", "a\nb", false);
        row("assignment", "PORT=3000 npm run dev", false);
        row("appending assignment", "PATH+=:/x cmd", false);
        row("array assignment", "a[1]=x cmd", false);
        row("not an assignment", "./configure --prefix=/usr", true);
        row("equals first", "=x cmd", true);
        row("while loop", "while true; do node server.js; done", false);
        row("if", "if true; then x; fi", false);
        row("subshell", "(cd web && npm start)", false);
        row("arithmetic", "((x++))", false);
        row("group", "{ a; }", false);
        row("negation", "! false", false);
        row("function", "f() { x; }", false);
        row("unbalanced quote", "echo 'oops", false);
        row("unbalanced substitution", "echo $(oops", false);
    }
    void takesExec()
    {
        QFETCH(QString, command);
        QFETCH(bool, exec);
        QCOMPARE(ShellCommand::takesExec(command), exec);
    }

    void jobControlNoise_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("noise");
        QTest::newRow("minus one") << QByteArray(
            "bash: cannot set terminal process group (-1): Inappropriate ioctl for device")
                                   << true;
        QTest::newRow("a pid") << QByteArray(
            "bash: cannot set terminal process group (14464): Inappropriate ioctl for device")
                               << true;
        QTest::newRow("no job control") << QByteArray("bash: no job control in this shell") << true;
        QTest::newRow("empty number") << QByteArray(
            "bash: cannot set terminal process group (): Inappropriate ioctl for device")
                                      << false;
        QTest::newRow("minus only") << QByteArray(
            "bash: cannot set terminal process group (-): Inappropriate ioctl for device")
                                    << false;
        QTest::newRow("letters") << QByteArray(
            "bash: cannot set terminal process group (12a): Inappropriate ioctl for device")
                                 << false;
        QTest::newRow("trailing text") << QByteArray("bash: no job control in this shell!") << false;
        QTest::newRow("other shell") << QByteArray("zsh: no job control in this shell") << false;
        QTest::newRow("rc error") << QByteArray("bash: /root/.bashrc: line 3: foo: command not found") << false;
        QTest::newRow("prefix only") << QByteArray("bash: cannot set terminal process group (") << false;
        QTest::newRow("dash") << QByteArray("dash: 0: can't access tty; job control turned off") << true;
        QTest::newRow("dash as sh") << QByteArray("sh: 12: can't access tty; job control turned off") << true;
        QTest::newRow("ash by path") << QByteArray("/bin/sh: can't access tty; job control turned off") << true;
        QTest::newRow("dash, no name") << QByteArray(": 0: can't access tty; job control turned off") << false;
        QTest::newRow("dash, letters") << QByteArray("dash: x: can't access tty; job control turned off") << false;
        QTest::newRow("dash, message in front")
            << QByteArray("server said dash: 0: can't access tty; job control turned off") << false;
        QTest::newRow("dash, text after") << QByteArray("dash: 0: can't access tty; job control turned off.") << false;
    }

    void jobControlNoise()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, noise);
        QCOMPARE(ShellCommand::isJobControlNoise(line), noise);
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestShellCommand)
#include "TestShellCommand.moc"
