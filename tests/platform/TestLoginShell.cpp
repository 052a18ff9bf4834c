#include "platform/LoginShell.h"

#include "TestEnvironment.h"

#include <QProcessEnvironment>
#include <QTest>

#include <memory>

using namespace Wardlamp;

class TestLoginShell : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void resolve_data();
    void resolve();
    void userDatabaseHasThisUser();
    void realEnvironmentPrefersShell();

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
};

void TestLoginShell::initTestCase()
{
    m_environment = std::make_unique<Test::TestEnvironment>();
}

void TestLoginShell::resolve_data()
{
    QTest::addColumn<bool>("shellSet");
    QTest::addColumn<QString>("shell");
    QTest::addColumn<QString>("databaseShell");
    QTest::addColumn<bool>("zshExists");
    QTest::addColumn<QString>("expected");

    const QString none;
    QTest::newRow("SHELL wins") << true << u"/usr/bin/fish"_qs << u"/bin/bash"_qs << true << u"/usr/bin/fish"_qs;
    QTest::newRow("SHELL is taken as it is")
        << true << u"relative/sh"_qs << u"/bin/bash"_qs << true << u"relative/sh"_qs;
    QTest::newRow("empty SHELL, user database") << true << none << u"/bin/bash"_qs << true << u"/bin/bash"_qs;
    QTest::newRow("no SHELL, user database") << false << none << u"/bin/bash"_qs << false << u"/bin/bash"_qs;
    QTest::newRow("no SHELL, empty database shell, zsh") << false << none << none << true << u"/bin/zsh"_qs;
    QTest::newRow("empty SHELL, no database entry, zsh") << true << none << none << true << u"/bin/zsh"_qs;
    QTest::newRow("nothing and no zsh: /bin/sh") << false << none << none << false << u"/bin/sh"_qs;
}

void TestLoginShell::resolve()
{
    QFETCH(bool, shellSet);
    QFETCH(QString, shell);
    QFETCH(QString, databaseShell);
    QFETCH(bool, zshExists);
    QFETCH(QString, expected);

    QProcessEnvironment environment;
    if (shellSet)
        environment.insert(u"SHELL"_qs, shell);
    QStringList asked;
    const QString resolved = LoginShell::resolve(
        environment, [&] { return databaseShell; },
        [&](const QString& path) {
            asked.append(path);
            return zshExists && path == u"/bin/zsh"_qs;
        });
    QCOMPARE(resolved, expected);
    // The file system is consulted only for the last fallback.
    QCOMPARE(asked.isEmpty(), !shell.isEmpty() || !databaseShell.isEmpty());
}

void TestLoginShell::userDatabaseHasThisUser()
{
    // The test user (root in CI, a developer elsewhere) has an entry with a shell.
    const QString shell = LoginShell::userDatabaseShell();
    QVERIFY(!shell.isEmpty());
    QVERIFY(shell.startsWith(u'/'));
}

void TestLoginShell::realEnvironmentPrefersShell()
{
    QProcessEnvironment environment;
    environment.insert(u"SHELL"_qs, u"/bin/sh"_qs);
    QCOMPARE(LoginShell::resolve(environment), u"/bin/sh"_qs);
    QCOMPARE(LoginShell::resolve(QProcessEnvironment()), LoginShell::userDatabaseShell());
}

QTEST_GUILESS_MAIN(TestLoginShell)
#include "TestLoginShell.moc"
