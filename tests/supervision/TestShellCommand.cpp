// The login-shell script and bash's job-control noise. Running a real child in
// hostile directories is covered by TestServerManager.

#include "TestEnvironment.h"
#include "supervision/ShellCommand.h"

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
    }

    void script()
    {
        QFETCH(QString, command);
        QFETCH(OptionalString, directory);
        QFETCH(QString, script);
        QCOMPARE(ShellCommand::script(command, directory), script);
        QCOMPARE(ShellCommand::arguments(command, directory), (QStringList { QStringLiteral("-lic"), script }));
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
        QTest::newRow("dash, text after") << QByteArray("dash: 0: can't access tty; job control turned off.")
                                          << false;
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
