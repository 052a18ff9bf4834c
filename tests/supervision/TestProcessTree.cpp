#include "supervision/ProcessTree.h"

#include "TestChild.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <unistd.h>

using namespace Wardlamp;

namespace {

ProcessInfo proc(pid_t pid, pid_t ppid, pid_t pgid, pid_t sid, char state = 'S', unsigned long long start = 1000)
{
    return ProcessInfo { pid, ppid, pgid, sid, state, start };
}

QList<pid_t> pidsOf(const QList<ProcessInfo>& processes)
{
    QList<pid_t> pids;
    for (const ProcessInfo& info : processes)
        pids.append(info.pid);
    return pids;
}

// Reads stdout lines until `count` lines starting with `prefix` have been seen;
// returns the numbers that follow the prefix.
QList<pid_t> readNumbers(QProcess& process, const QByteArray& prefix, int count)
{
    QList<pid_t> numbers;
    QByteArray pending;
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

} // namespace

class TestProcessTree : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void parseStat_data();
    void parseStat();
    void treeOf_data();
    void treeOf();
    void survivorsOf();
    void snapshotSkipsUnreadableEntries();
    void snapshotSeesThisProcess();
    void wholeTreeEndsIncludingDescendantsThatLeftTheGroup_data();
    void wholeTreeEndsIncludingDescendantsThatLeftTheGroup();
    void orphanedMemberIsKilledThroughKnownList();
    void daemonizedOrphanIsFoundByEnvironment();
    void neverSignalsOwnTree();

private:
    // Remembers processes a test started, so a failing test leaves none behind.
    void track(pid_t pid);
    void track(const QList<pid_t>& pids);

    std::unique_ptr<Test::TestEnvironment> m_environment;
    QList<ProcessInfo> m_started;
};

void TestProcessTree::initTestCase()
{
    m_environment = std::make_unique<Test::TestEnvironment>();
    QVERIFY(QFile::exists(Test::program(QStringLiteral("wl-test-child"))));
}

void TestProcessTree::cleanup()
{
    for (const ProcessInfo& survivor : ProcessTree::alive(m_started))
        ::kill(survivor.pid, SIGKILL);
    m_started.clear();
}

void TestProcessTree::track(pid_t pid)
{
    if (const auto info = ProcessTree::read(pid))
        m_started.append(*info);
}

void TestProcessTree::track(const QList<pid_t>& pids)
{
    for (const pid_t pid : pids)
        track(pid);
}

void TestProcessTree::parseStat_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<ProcessInfo>("expected");

    QTest::newRow("plain") << QByteArray("4242 (bun) S 4200 4242 4242 0 -1 4194560 120 0 0 0 3 1 0 0 20 0 1 0 "
                                         "987654 1000 200 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0\n")
                           << true << proc(4242, 4200, 4242, 4242, 'S', 987654);
    QTest::newRow("name with spaces and parentheses")
        << QByteArray("77 (a) b (c)) Z 1 70 70 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 55 0 0\n") << true
        << proc(77, 1, 70, 70, 'Z', 55);
    QTest::newRow("negative tty") << QByteArray("5 (x) R 1 5 5 -1 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 9\n") << true
                                  << proc(5, 1, 5, 5, 'R', 9);
    QTest::newRow("cut before start time")
        << QByteArray("5 (x) R 1 5 5 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0") << false << ProcessInfo {};
    QTest::newRow("cut inside the name") << QByteArray("5 (xyz") << false << ProcessInfo {};
    QTest::newRow("empty") << QByteArray() << false << ProcessInfo {};
    QTest::newRow("no pid") << QByteArray("(x) R 1 5 5 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 9\n") << false << ProcessInfo {};
    QTest::newRow("letters in ppid") << QByteArray("5 (x) R 1a 5 5 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 9\n") << false
                                     << ProcessInfo {};
    QTest::newRow("pid zero") << QByteArray("0 (x) R 1 5 5 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 9\n") << false
                              << ProcessInfo {};
    QTest::newRow("huge number") << QByteArray(
        "5 (x) R 99999999999999999999999 5 5 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 9\n")
                                 << false << ProcessInfo {};
}

void TestProcessTree::parseStat()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(ProcessInfo, expected);
    const auto info = ProcessTree::parseStat(text.constData(), text.size());
    QCOMPARE(info.has_value(), valid);
    if (valid)
        QCOMPARE(*info, expected);
}

void TestProcessTree::treeOf_data()
{
    QTest::addColumn<QList<ProcessInfo>>("table");
    QTest::addColumn<pid_t>("root");
    QTest::addColumn<QList<ProcessInfo>>("known");
    QTest::addColumn<QList<pid_t>>("expected");

    // 50 is the app (in group/session 10 of its terminal), 100 a server it
    // started with setsid.
    const QList<ProcessInfo> base { proc(1, 0, 1, 1), proc(10, 1, 10, 10), proc(50, 10, 50, 10),
        proc(100, 50, 100, 100), proc(200, 1, 200, 200) };

    QTest::newRow("lone root") << base << pid_t(100) << QList<ProcessInfo> {} << QList<pid_t> { 100 };
    QTest::newRow("children and grandchildren")
        << (base + QList { proc(101, 100, 100, 100), proc(102, 101, 100, 100), proc(103, 102, 100, 100) }) << pid_t(100)
        << QList<ProcessInfo> {} << QList<pid_t> { 100, 101, 102, 103 };
    QTest::newRow("grandchild that called setsid, and its own child")
        << (base + QList { proc(101, 100, 100, 100), proc(102, 101, 102, 102), proc(103, 102, 102, 102) }) << pid_t(100)
        << QList<ProcessInfo> {} << QList<pid_t> { 100, 101, 102, 103 };
    QTest::newRow("orphan still in the group (double fork, middle gone)")
        << (base + QList { proc(104, 1, 100, 100) }) << pid_t(100) << QList<ProcessInfo> {}
        << QList<pid_t> { 100, 104 };
    QTest::newRow("orphan that moved to another group of the session")
        << (base + QList { proc(104, 50, 104, 100) }) << pid_t(100) << QList<ProcessInfo> {}
        << QList<pid_t> { 100, 104 };
    QTest::newRow("root gone, its group lives on")
        << (QList { proc(1, 0, 1, 1), proc(50, 1, 50, 50), proc(104, 50, 100, 100), proc(105, 104, 100, 100) })
        << pid_t(100) << QList<ProcessInfo> {} << QList<pid_t> { 104, 105 };
    QTest::newRow("root gone, known setsid member and what it started since")
        << (base.mid(0, 3) + QList { proc(106, 50, 106, 106, 'S', 7), proc(107, 106, 106, 106, 'S', 8) }) << pid_t(100)
        << QList { proc(106, 101, 106, 106, 'S', 7) } << QList<pid_t> { 106, 107 };
    QTest::newRow("known pid reused by another process")
        << (base.mid(0, 3) + QList { proc(106, 50, 106, 106, 'S', 99) }) << pid_t(100)
        << QList { proc(106, 101, 106, 106, 'S', 7) } << QList<pid_t> {};
    QTest::newRow("root in the app's group: the group is not the root's") << QList {
        proc(1, 0, 1, 1), proc(50, 1, 50, 50), proc(60, 50, 50, 50), proc(61, 50, 50, 50), proc(62, 60, 50, 50)
    } << pid_t(60) << QList<ProcessInfo> {} << QList<pid_t> { 60, 62 };
    QTest::newRow("zombies are members too") << (base + QList { proc(101, 100, 100, 100, 'Z') }) << pid_t(100)
                                             << QList<ProcessInfo> {} << QList<pid_t> { 100, 101 };
    QTest::newRow("unknown root") << base << pid_t(4000) << QList<ProcessInfo> {} << QList<pid_t> {};
    QTest::newRow("pid 0 never matches the kernel's threads") << (base + QList { proc(2, 0, 0, 0), proc(3, 2, 0, 0) })
                                                              << pid_t(0) << QList<ProcessInfo> {} << QList<pid_t> {};
    QTest::newRow("cycle in a broken table ends")
        << (base + QList { proc(300, 301, 300, 300), proc(301, 300, 300, 300) }) << pid_t(300) << QList<ProcessInfo> {}
        << QList<pid_t> { 300, 301 };
}

void TestProcessTree::treeOf()
{
    QFETCH(QList<ProcessInfo>, table);
    QFETCH(pid_t, root);
    QFETCH(QList<ProcessInfo>, known);
    QFETCH(QList<pid_t>, expected);
    QCOMPARE(pidsOf(ProcessTree(table).treeOf(root, known)), expected);
}

void TestProcessTree::survivorsOf()
{
    const ProcessTree now({ proc(10, 1, 10, 10, 'S', 5), proc(11, 10, 10, 10, 'Z', 6), proc(12, 1, 12, 12, 'S', 99) });
    const QList<ProcessInfo> earlier { proc(10, 1, 10, 10, 'S', 5), proc(11, 10, 10, 10, 'S', 6),
        proc(12, 10, 10, 10, 'S', 7), proc(13, 10, 10, 10, 'S', 8) };
    // 11 became a zombie, 12 is another process with a reused pid, 13 is gone.
    QCOMPARE(pidsOf(now.survivorsOf(earlier)), QList<pid_t> { 10 });
}

void TestProcessTree::snapshotSkipsUnreadableEntries()
{
    const QString dir = m_environment->path(QStringLiteral("fakeproc"));
    auto put = [&](const QString& relative, const QByteArray& content) {
        QDir().mkpath(QFileInfo(dir + u'/' + relative).path());
        QFile file(dir + u'/' + relative);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    put(QStringLiteral("123/stat"), "123 (ok) S 1 123 123 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 42\n");
    put(QStringLiteral("124/stat"), "garbage");
    put(QStringLiteral("125/status"), "no stat file here");
    put(QStringLiteral("126/stat"), "");
    put(QStringLiteral("net/stat"), "123 (ok) S 1 123 123 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 42\n");
    put(QStringLiteral("12a/stat"), "123 (ok) S 1 123 123 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 42\n");
    QCOMPARE(ProcessTree::snapshotOf(dir).processes(), QList { proc(123, 1, 123, 123, 'S', 42) });
    QVERIFY(ProcessTree::snapshotOf(dir + QStringLiteral("/missing")).processes().isEmpty());
}

void TestProcessTree::snapshotSeesThisProcess()
{
    const ProcessTree tree = ProcessTree::snapshot();
    const auto self = tree.find(::getpid());
    QVERIFY(self);
    QCOMPARE(self->ppid, ::getppid());
    QCOMPARE(self->pgid, ::getpgrp());
    QCOMPARE(self->sid, ::getsid(0));
    QCOMPARE(self->state, 'R');
    QCOMPARE(ProcessTree::read(::getpid())->startTime, self->startTime);
    QVERIFY(tree.processes().size() > 1);
}

void TestProcessTree::wholeTreeEndsIncludingDescendantsThatLeftTheGroup_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("grandchildren");
    QTest::addColumn<int>("exitingMiddles");
    QTest::addColumn<bool>("ignoresTerm");

    QTest::newRow("grandchild") << QStringList { u"grandchild"_qs, u"{"_qs, u"hold"_qs, u"}"_qs, u"hold"_qs } << 1 << 0
                                << false;
    QTest::newRow("setsid grandchild") << QStringList { u"setsid-grandchild"_qs, u"{"_qs, u"hold"_qs, u"}"_qs,
        u"hold"_qs } << 1 << 0 << false;
    QTest::newRow("double fork whose middle exits") << QStringList { u"grandchild"_qs, u"{"_qs, u"grandchild"_qs,
        u"{"_qs, u"hold"_qs, u"}"_qs, u"exit:0"_qs, u"}"_qs, u"hold"_qs }
                                                    << 2 << 1 << false;
    QTest::newRow("setsid grandchild with children of its own") << QStringList { u"setsid-grandchild"_qs, u"{"_qs,
        u"grandchild"_qs, u"{"_qs, u"hold"_qs, u"}"_qs, u"hold"_qs, u"}"_qs, u"hold"_qs }
                                                                << 2 << 0 << false;
    QTest::newRow("everyone ignores SIGTERM") << QStringList { u"ignore-term"_qs, u"setsid-grandchild"_qs, u"{"_qs,
        u"hold"_qs, u"}"_qs, u"grandchild"_qs, u"{"_qs, u"hold"_qs, u"}"_qs, u"hold"_qs }
                                              << 2 << 0 << true;
}

void TestProcessTree::wholeTreeEndsIncludingDescendantsThatLeftTheGroup()
{
    QFETCH(QStringList, steps);
    QFETCH(int, grandchildren);
    QFETCH(int, exitingMiddles);
    QFETCH(bool, ignoresTerm);

    auto child = Test::startTestChild(steps);
    QVERIFY(child->waitForStarted(Test::waitMs(10000)));
    const pid_t root = static_cast<pid_t>(child->processId());
    track(root);
    const QList<pid_t> forked = readNumbers(*child, "grandchild ", grandchildren);
    track(forked);
    QCOMPARE(forked.size(), grandchildren);

    // The middle of a double fork is gone (or a zombie) before the tree is taken.
    QList<pid_t> expected { root };
    for (const pid_t pid : forked)
        expected.append(pid);
    if (exitingMiddles > 0) {
        const pid_t middle = forked.first();
        QTRY_VERIFY_WITH_TIMEOUT(
            !ProcessTree::read(middle) || ProcessTree::read(middle)->hasEnded(), Test::waitMs(10000));
        expected.removeAll(middle);
    }

    const QList<pid_t> members = pidsOf(ProcessTree::snapshot().survivorsOf(ProcessTree::snapshot().treeOf(root)));
    for (const pid_t pid : std::as_const(expected))
        QVERIFY2(members.contains(pid), qPrintable(QStringLiteral("pid %1 missing from the tree").arg(pid)));

    const QList<ProcessInfo> signalled = ProcessTree::signalTree(root, SIGTERM);
    for (const pid_t pid : std::as_const(expected))
        QVERIFY(pidsOf(signalled).contains(pid));
    if (ignoresTerm) {
        // SIGTERM is ignored by everyone, so the whole tree is still there for SIGKILL.
        QList<pid_t> survivors = pidsOf(ProcessTree::alive(signalled));
        QList<pid_t> killed = pidsOf(ProcessTree::signalTree(root, SIGKILL, signalled));
        std::sort(survivors.begin(), survivors.end());
        std::sort(killed.begin(), killed.end());
        QCOMPARE(killed, survivors);
        QCOMPARE(killed.size(), expected.size());
    }
    QTRY_VERIFY_WITH_TIMEOUT(ProcessTree::alive(signalled).isEmpty(), Test::waitMs(10000));
    QTRY_COMPARE_WITH_TIMEOUT(child->state(), QProcess::NotRunning, Test::waitMs(10000));
    QCOMPARE(child->exitStatus(), QProcess::CrashExit);
    QCOMPARE(child->exitCode(), ignoresTerm ? SIGKILL : SIGTERM);
}

void TestProcessTree::orphanedMemberIsKilledThroughKnownList()
{
    // The root ends at SIGTERM; its setsid child survives it and is reparented,
    // so only the list taken at SIGTERM still ties it to the server.
    auto child = Test::startTestChild(
        { u"setsid-grandchild"_qs, u"{"_qs, u"ignore-term"_qs, u"pid"_qs, u"hold"_qs, u"}"_qs, u"hold"_qs });
    QVERIFY(child->waitForStarted(Test::waitMs(10000)));
    const pid_t root = static_cast<pid_t>(child->processId());
    // "pid" is printed once SIGTERM is ignored.
    const QList<pid_t> ready = readNumbers(*child, "pid ", 1);
    track(ready);
    QCOMPARE(ready.size(), 1);
    const pid_t orphan = ready.first();

    const QList<ProcessInfo> signalled = ProcessTree::signalTree(root, SIGTERM);
    QVERIFY(pidsOf(signalled).contains(orphan));
    QVERIFY(child->waitForFinished(Test::waitMs(10000)));
    QTRY_VERIFY_WITH_TIMEOUT(ProcessTree::read(orphan) && ProcessTree::read(orphan)->ppid != root, Test::waitMs(10000));
    QCOMPARE(pidsOf(ProcessTree::alive(signalled)), QList<pid_t> { orphan });
    QVERIFY(ProcessTree::snapshot().treeOf(root).isEmpty());

    QCOMPARE(pidsOf(ProcessTree::signalTree(root, SIGKILL, signalled)), QList<pid_t> { orphan });
    QTRY_VERIFY_WITH_TIMEOUT(ProcessTree::alive(signalled).isEmpty(), Test::waitMs(10000));
}

void TestProcessTree::daemonizedOrphanIsFoundByEnvironment()
{
    // Fork, setsid, fork again, middle exits: no parent chain and no shared
    // group or session lead back to the root. The environment still does.
    const QByteArray tag
        = QByteArray::number(::getpid()) + "-" + QByteArray::number(QRandomGenerator::global()->generate());
    auto startTagged = [](const QByteArray& value, const QStringList& steps) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"WL_TEST_TAG"_qs, QString::fromLatin1(value));
        process->setProcessEnvironment(environment);
        process->setProgram(Test::program(QStringLiteral("wl-test-child")));
        process->setArguments(steps);
        process->setChildProcessModifier([] { ::setsid(); });
        process->start();
        return process;
    };
    auto child = startTagged(tag,
        { u"setsid-grandchild"_qs, u"{"_qs, u"grandchild"_qs, u"{"_qs, u"hold"_qs, u"}"_qs, u"exit:0"_qs, u"}"_qs,
            u"hold"_qs });
    auto other = startTagged(tag + "x", { u"hold"_qs });
    QVERIFY(child->waitForStarted(Test::waitMs(10000)));
    QVERIFY(other->waitForStarted(Test::waitMs(10000)));
    const pid_t root = static_cast<pid_t>(child->processId());
    track(root);
    const QList<pid_t> forked = readNumbers(*child, "grandchild ", 2);
    track(forked);
    QCOMPARE(forked.size(), 2);
    const pid_t daemon = forked.at(1);
    QTRY_VERIFY_WITH_TIMEOUT(
        ProcessTree::read(daemon) && ProcessTree::read(daemon)->ppid != forked.at(0), Test::waitMs(10000));
    QVERIFY(!pidsOf(ProcessTree::snapshot().treeOf(root)).contains(daemon));

    const QList<ProcessInfo> tagged
        = ProcessTree::withEnvironment(ProcessTree::snapshot().processes(), "WL_TEST_TAG", tag);
    QList<pid_t> taggedPids = pidsOf(tagged);
    std::sort(taggedPids.begin(), taggedPids.end());
    QCOMPARE(taggedPids, (QList<pid_t> { root, daemon }));
    QVERIFY(ProcessTree::withEnvironment(tagged, "WL_TEST_TA", tag).isEmpty());
    QVERIFY(ProcessTree::withEnvironment(tagged, "WL_TEST_TAG=", tag).isEmpty());

    const QList<ProcessInfo> killed = ProcessTree::signalTree(root, SIGKILL, tagged);
    QVERIFY(pidsOf(killed).contains(daemon));
    QTRY_VERIFY_WITH_TIMEOUT(ProcessTree::alive(tagged).isEmpty(), Test::waitMs(10000));
    other->kill();
    other->waitForFinished(Test::waitMs(10000));
}

void TestProcessTree::neverSignalsOwnTree()
{
    // Signal 0 only checks; a tree that holds this process is refused whole.
    QVERIFY(ProcessTree::signalTree(::getpid(), 0).isEmpty());
    QVERIFY(ProcessTree::signalTree(::getppid(), 0).isEmpty());
    QVERIFY(ProcessTree::signalTree(::getpgrp(), 0).isEmpty());
    QVERIFY(ProcessTree::signalTree(1, 0).isEmpty());
    QVERIFY(ProcessTree::signalTree(0, 0).isEmpty());
    QVERIFY(ProcessTree::signalTree(-1, 0).isEmpty());
}

QTEST_GUILESS_MAIN(TestProcessTree)
#include "TestProcessTree.moc"
