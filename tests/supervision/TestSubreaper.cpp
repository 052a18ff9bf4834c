#include "supervision/Subreaper.h"

#include "supervision/ProcessTree.h"
#include "supervision/ServerManager.h"

#include "TestChild.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <QScopeGuard>

#include <atomic>
#include <csignal>
#include <memory>
#include <sys/wait.h>
#include <thread>
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

// A direct child of the test that exits at once with `code`, in a session of
// its own as the manager's children are (the sweep leaves children of our own
// session to whoever forked them) unless `ownSession`.
pid_t forkExiting(Subreaper& subreaper, int code, bool claimed, bool ownSession = false)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!ownSession)
            ::setsid();
        ::_exit(code);
    }
    // Claimed before the event loop runs again, so no scan can come first.
    if (claimed)
        subreaper.claim(pid);
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

    void childrenOfOurOwnSessionAreLeftToTheirOwners();
    void qprocessBesideTheManagerKeepsItsExitStatus();

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
    std::unique_ptr<Subreaper> m_subreaper;
};

void TestSubreaper::initTestCase()
{
    m_environment = std::make_unique<Test::TestEnvironment>();
    QVERIFY(QFile::exists(Test::program(QStringLiteral("wl-test-child"))));
    QVERIFY(!Subreaper::isInstalled());
    m_subreaper = Subreaper::install();
    QVERIFY(m_subreaper);
    QVERIFY(Subreaper::isInstalled());
    // One per process: the role and the SIGCHLD handler are the process's.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"one per process"_qs));
    QVERIFY(!Subreaper::install());
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
    m_subreaper->claim(static_cast<pid_t>(child->processId()));
    const QList<pid_t> forked = readNumbers(*child, "grandchild ", 1);
    QCOMPARE(forked.size(), 1);
    const pid_t orphan = forked.first();

    QTRY_COMPARE_WITH_TIMEOUT(child->state(), QProcess::NotRunning, Test::waitMs(10000));
    // The claimed child's status went to QProcess, untouched.
    QCOMPARE(child->exitStatus(), QProcess::NormalExit);
    QCOMPARE(child->exitCode(), 7);
    m_subreaper->release(static_cast<pid_t>(child->processId()));

    QTRY_COMPARE_WITH_TIMEOUT(ProcessTree::read(orphan).value_or(ProcessInfo {}).ppid, ::getpid(), Test::waitMs(10000));
    QVERIFY(Subreaper::children().contains(orphan));

    const int reapedBefore = m_subreaper->reapedCount();
    QCOMPARE(::kill(orphan, SIGTERM), 0);
    // Gone from /proc altogether: not even a zombie is left.
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessTree::read(orphan), Test::waitMs(10000));
    QVERIFY(m_subreaper->reapedCount() > reapedBefore);
}

void TestSubreaper::claimedChildKeepsItsStatusForItsOwner()
{
    const pid_t claimed = forkExiting(*m_subreaper, 5, true);
    QTRY_VERIFY_WITH_TIMEOUT(isZombie(claimed), Test::waitMs(10000));

    // An unclaimed one ending after it proves that scans ran past the grace
    // period while the claimed zombie was there.
    const pid_t unclaimed = forkExiting(*m_subreaper, 6, false);
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessTree::read(unclaimed), Test::waitMs(10000));
    QVERIFY(isZombie(claimed));
    QCOMPARE(m_subreaper->reapOrphans(), 0);

    int status = 0;
    QCOMPARE(::waitpid(claimed, &status, WNOHANG), claimed);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 5);
    m_subreaper->release(claimed);
    QVERIFY(!m_subreaper->isClaimed(claimed));
}

void TestSubreaper::childrenListsLiveChildrenOnly()
{
    auto child = Test::startTestChild({ u"hold"_qs });
    QVERIFY(child->waitForStarted(Test::waitMs(10000)));
    const pid_t pid = static_cast<pid_t>(child->processId());
    m_subreaper->claim(pid);
    QVERIFY(Subreaper::children().contains(pid));
    child->kill();
    QVERIFY(child->waitForFinished(Test::waitMs(10000)));
    m_subreaper->release(pid);
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
        m_subreaper->claim(static_cast<pid_t>(process->processId()));
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

// A child forked by another part of the program stays in our own session:
// the sweep never takes it, however long its owner leaves it a zombie.
void TestSubreaper::childrenOfOurOwnSessionAreLeftToTheirOwners()
{
    const pid_t ours = forkExiting(*m_subreaper, 4, false, true);
    QTRY_VERIFY_WITH_TIMEOUT(isZombie(ours), Test::waitMs(10000));
    // An unclaimed child elsewhere that ends after it is reaped once it has
    // waited out the grace: by then `ours` had waited longer.
    const pid_t elsewhere = forkExiting(*m_subreaper, 6, false);
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessTree::read(elsewhere), Test::waitMs(10000));
    QVERIFY(isZombie(ours));
    QCOMPARE(m_subreaper->reapOrphans(), 0);
    int status = 0;
    QCOMPARE(::waitpid(ours, &status, WNOHANG), ours);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 4);
}

// A QProcess started beside a manager's children (as a file dialog or a
// desktop portal of the app would start one), owned by a thread that is busy
// while its child ends and the manager's children come and go: the sweep
// leaves the child to QProcess, which gets its exit status.
void TestSubreaper::qprocessBesideTheManagerKeepsItsExitStatus()
{
    ServerManager::installPipeWakeSignal();
    ServerManagerOptions options;
    options.loginShell = u"/bin/sh"_qs;
    options.subreaper = m_subreaper.get();
    ServerManager manager(options);

    std::atomic<pid_t> qprocessChild = 0;
    std::atomic<bool> mayCollect = false;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    bool finished = false;
    std::thread owner([&] {
        QProcess process;
        process.start(u"/bin/sh"_qs, { u"-c"_qs, u"exit 7"_qs });
        if (!process.waitForStarted(Test::waitMs(10000)))
            return;
        qprocessChild = pid_t(process.processId());
        // Busy elsewhere: the child's end is not looked at until told.
        while (!mayCollect)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        finished = process.waitForFinished(Test::waitMs(10000));
        exitCode = process.exitCode();
        exitStatus = process.exitStatus();
    });
    // However the test ends, the owner is let go and joined.
    const auto letGo = qScopeGuard([&] {
        mayCollect = true;
        if (owner.joinable())
            owner.join();
    });

    QTRY_VERIFY_WITH_TIMEOUT(qprocessChild > 0 && isZombie(qprocessChild), Test::waitMs(10000));
    // The manager's children start, end and are collected meanwhile.
    for (int i = 0; i < 3; ++i) {
        ServerConfig config;
        config.id = QUuid::createUuid();
        config.name = u"s%1"_qs.arg(i);
        config.command = u"echo up; exit 3"_qs;
        manager.start(config);
    }
    QTRY_VERIFY_WITH_TIMEOUT(manager.isIdle(), Test::waitMs(10000));
    for (const ServerRuntimeState& state : manager.states())
        QCOMPARE(state.lastExitCode, std::optional<qint32>(3));
    // Proof that sweeps ran past the grace while the QProcess child waited.
    const pid_t elsewhere = forkExiting(*m_subreaper, 6, false);
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessTree::read(elsewhere), Test::waitMs(10000));
    QVERIFY(isZombie(qprocessChild));

    mayCollect = true;
    owner.join();
    QVERIFY(finished);
    QCOMPARE(exitStatus, QProcess::NormalExit);
    QCOMPARE(exitCode, 7);
}

QTEST_GUILESS_MAIN(TestSubreaper)
#include "TestSubreaper.moc"
