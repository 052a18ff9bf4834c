#include "supervision/Subreaper.h"

#include "supervision/ProcessTree.h"

#include "TestChild.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

using namespace Wardlamp;

namespace {

QList<pid_t> readNumbers(QProcess& process, const QByteArray& prefix, int count)
{
    QList<pid_t> numbers;
    while (numbers.size() < count) {
        if (!process.canReadLine() && !process.waitForReadyRead(Test::waitMs(10000)))
            break;
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith(prefix))
                numbers.append(line.mid(prefix.size()).toInt());
        }
    }
    return numbers;
}

bool isZombie(pid_t pid)
{
    const auto info = ProcessTree::read(pid);
    return info && info->state == 'Z';
}

// A direct child of the test that exits at once with `code`.
pid_t forkExiting(int code, bool claimed)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(code);
    // Claimed before the event loop runs again, so no scan can come first.
    if (claimed)
        Subreaper::claim(pid);
    return pid;
}

} // namespace

class TestSubreaper : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void orphanIsAdoptedAndReaped();
    void claimedChildKeepsItsStatusForItsOwner();
    void childrenListsLiveChildrenOnly();
    void endAllChildrenLeavesNothingBehind();

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
};

void TestSubreaper::initTestCase()
{
    m_environment = std::make_unique<Test::TestEnvironment>();
    QVERIFY(QFile::exists(Test::program(QStringLiteral("wl-test-child"))));
    QVERIFY(Subreaper::install());
    QVERIFY(Subreaper::install()); // idempotent
    QVERIFY(Subreaper::isInstalled());
}

void TestSubreaper::cleanup()
{
    // Adopted orphans are children here too, so a failing test leaves nothing behind.
    Subreaper::endAllChildren(std::chrono::milliseconds(0));
}

void TestSubreaper::orphanIsAdoptedAndReaped()
{
    // The child forks a grandchild and exits; the grandchild is reparented to
    // this process instead of init, and reaped here once it ends.
    auto child = Test::startTestChild({ u"grandchild"_qs, u"{"_qs, u"hold"_qs, u"}"_qs, u"exit:7"_qs });
    QVERIFY(child->waitForStarted(Test::waitMs(10000)));
    Subreaper::claim(static_cast<pid_t>(child->processId()));
    const QList<pid_t> forked = readNumbers(*child, "grandchild ", 1);
    QCOMPARE(forked.size(), 1);
    const pid_t orphan = forked.first();

    QTRY_COMPARE_WITH_TIMEOUT(child->state(), QProcess::NotRunning, Test::waitMs(10000));
    // The claimed child's status went to QProcess, untouched.
    QCOMPARE(child->exitStatus(), QProcess::NormalExit);
    QCOMPARE(child->exitCode(), 7);
    Subreaper::release(static_cast<pid_t>(child->processId()));

    QTRY_COMPARE_WITH_TIMEOUT(ProcessTree::read(orphan).value_or(ProcessInfo {}).ppid, ::getpid(), Test::waitMs(10000));
    QVERIFY(Subreaper::children().contains(orphan));

    const int reapedBefore = Subreaper::reapedCount();
    QCOMPARE(::kill(orphan, SIGTERM), 0);
    // Gone from /proc altogether: not even a zombie is left.
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessTree::read(orphan), Test::waitMs(10000));
    QVERIFY(Subreaper::reapedCount() > reapedBefore);
}

void TestSubreaper::claimedChildKeepsItsStatusForItsOwner()
{
    const pid_t claimed = forkExiting(5, true);
    QTRY_VERIFY_WITH_TIMEOUT(isZombie(claimed), Test::waitMs(10000));

    // An unclaimed one ending after it proves that scans ran past the grace
    // period while the claimed zombie was there.
    const pid_t unclaimed = forkExiting(6, false);
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessTree::read(unclaimed), Test::waitMs(10000));
    QVERIFY(isZombie(claimed));
    QCOMPARE(Subreaper::reapOrphans(), 0);

    int status = 0;
    QCOMPARE(::waitpid(claimed, &status, WNOHANG), claimed);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 5);
    Subreaper::release(claimed);
    QVERIFY(!Subreaper::isClaimed(claimed));
}

void TestSubreaper::childrenListsLiveChildrenOnly()
{
    auto child = Test::startTestChild({ u"hold"_qs });
    QVERIFY(child->waitForStarted(Test::waitMs(10000)));
    const pid_t pid = static_cast<pid_t>(child->processId());
    Subreaper::claim(pid);
    QVERIFY(Subreaper::children().contains(pid));
    child->kill();
    QVERIFY(child->waitForFinished(Test::waitMs(10000)));
    Subreaper::release(pid);
    QVERIFY(!Subreaper::children().contains(pid));
}

void TestSubreaper::endAllChildrenLeavesNothingBehind()
{
    // One tree that ignores SIGTERM everywhere (one member in a session of its
    // own), one that ends at SIGTERM, and an adopted orphan.
    auto stubborn = Test::startTestChild({ u"ignore-term"_qs, u"setsid-grandchild"_qs, u"{"_qs, u"hold"_qs, u"}"_qs,
        u"grandchild"_qs, u"{"_qs, u"hold"_qs, u"}"_qs, u"hold"_qs });
    auto polite = Test::startTestChild({ u"grandchild"_qs, u"{"_qs, u"hold"_qs, u"}"_qs, u"hold"_qs });
    auto parentOfOrphan = Test::startTestChild({ u"setsid-grandchild"_qs, u"{"_qs, u"hold"_qs, u"}"_qs, u"exit:0"_qs });
    QList<pid_t> everyone;
    for (QProcess* process : { stubborn.get(), polite.get(), parentOfOrphan.get() }) {
        QVERIFY(process->waitForStarted(Test::waitMs(10000)));
        Subreaper::claim(static_cast<pid_t>(process->processId()));
        if (process != parentOfOrphan.get())
            everyone.append(static_cast<pid_t>(process->processId()));
    }
    everyone += readNumbers(*stubborn, "grandchild ", 2);
    everyone += readNumbers(*polite, "grandchild ", 1);
    const QList<pid_t> orphan = readNumbers(*parentOfOrphan, "grandchild ", 1);
    QCOMPARE(orphan.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(
        ProcessTree::read(orphan.first()).value_or(ProcessInfo {}).ppid, ::getpid(), Test::waitMs(10000));
    everyone += orphan;
    QCOMPARE(everyone.size(), 6);

    QList<ProcessInfo> before;
    for (const pid_t pid : std::as_const(everyone)) {
        const auto info = ProcessTree::read(pid);
        QVERIFY(info);
        before.append(*info);
    }
    // The three processes of the stubborn tree outlive SIGTERM.
    QCOMPARE(Subreaper::endAllChildren(std::chrono::milliseconds(Test::waitMs(300))), 3);
    QTRY_VERIFY_WITH_TIMEOUT(ProcessTree::alive(before).isEmpty(), Test::waitMs(10000));
    QTRY_VERIFY_WITH_TIMEOUT(Subreaper::children().isEmpty(), Test::waitMs(10000));
}

QTEST_GUILESS_MAIN(TestSubreaper)
#include "TestSubreaper.moc"
