// The output thread alone, with real children: the lines it queues keep their
// text while a batch is held (the blocks they point into are not reused), after
// a quiet spell (the blocks in hand are given back), and every line gets the
// flags that the per-line checks give, whichever path it took.

#include "TestEnvironment.h"
#include "supervision/OutputPump.h"
#include "supervision/ProcessRun.h"
#include "supervision/ProcessSpawner.h"

#include <QtTest>

#include <csignal>

#include <memory>

using namespace Wardlamp;
using namespace Wardlamp::Detail;

namespace {

struct Seen {
    QByteArray text;
    quint8 flags = 0;
};

// A run of wl-test-child with these steps, as the manager would hand it to
// the pump (past the job-control noise a login shell may print first); null
// when it could not be started.
std::shared_ptr<ProcessRun> spawnChild(const QList<QByteArray>& steps)
{
    const QByteArray program = Test::program(QStringLiteral("wl-test-child")).toUtf8();
    const auto result = ProcessSpawner::spawn(program, steps, {}, {}, [](int) {});
    if (!result)
        return nullptr;
    const ProcessSpawner::Child* child = &*result;
    ServerConfig config;
    config.id = QUuid::createUuid();
    auto run = std::make_shared<ProcessRun>(config, child->pid, child->pidfd, child->stdoutFd, child->stderrFd);
    run->stderrStarted = true;
    return run;
}

// A pump whose wake-ups call `handle` on `receiver`'s thread, queued as the
// manager's post box does.
template <typename Handle>
std::unique_ptr<OutputPump> makePump(QObject* receiver, Handle handle, OutputPump::Limits limits = {})
{
    auto pump = OutputPump::create(
        [receiver, handle](const std::shared_ptr<ProcessRun>& run) {
            QMetaObject::invokeMethod(
                receiver, [handle, run] { handle(run); }, Qt::QueuedConnection);
        },
        limits);
    if (!pump)
        qFatal("the output thread could not be set up: %s", qPrintable(pump.error()));
    return std::move(*pump);
}

// The size of one taken batch and of the array its line records are in.
struct BatchShape {
    std::size_t lines = 0;
    std::size_t capacity = 0;
};

// Runs wl-test-child with the steps under a pump on this (the main) thread's
// event loop, the way the manager does: one take() per wake-up. Batches are
// kept until the run has ended when `holdBatches`, else recycled at once. With
// `stallFirst` the first wake-up is answered only once the run is paused, as
// by a main thread busy elsewhere: the first batch is as large as it gets.
class PumpedChild : public QObject {
public:
    // `maxBlocks` caps the pump's blocks of output (OutputChunks); a drain
    // short of memory waits `drainWaitMs` (the usual time by default),
    // stretched by the timeout factor.
    explicit PumpedChild(bool holdBatches, bool stallFirst = false, std::size_t maxBlocks = OutputChunks::unlimited,
        int drainWaitMs = 2000)
        : m_hold(holdBatches)
        , m_stall(stallFirst)
        , m_pump(makePump(
              this, [this](const std::shared_ptr<ProcessRun>& run) { handle(run); },
              OutputPump::Limits { maxBlocks, std::chrono::milliseconds(Test::waitMs(drainWaitMs)) }))
    {
    }

    bool run(const QStringList& steps)
    {
        QList<QByteArray> arguments;
        for (const QString& step : steps)
            arguments.append(step.toUtf8());
        const std::shared_ptr<ProcessRun> run = spawnChild(arguments);
        if (!run)
            return false;
        m_pipes = { run->out.fd, run->err.fd };
        m_pump->add(run);
        return QTest::qWaitFor([this] { return m_finished; }, Test::waitMs(60000));
    }

    // With checkPolling, every take() while the child runs looks for its pipes
    // in this process's epoll sets (/proc/self/fdinfo lists their members).
    bool checkPolling = false;
    int pollingChecks = 0;
    QByteArrayList polledPipes;

    QList<Seen> lines;
    QList<BatchShape> batches;
    QSet<quintptr> blocks; // every block a batch pointed into
    QList<std::size_t> spareBlocks; // the pump's spare blocks at each take()
    bool pausedBeforeTake = false; // with stallFirst: the run was paused before its first take()
    int status = -1;
    bool heldTextChanged = false; // a held batch's line read differently at the end

private:
    void handle(const std::shared_ptr<ProcessRun>& run)
    {
        if (m_stall) {
            m_stall = false;
            pausedBeforeTake = QTest::qWaitFor(
                [&] {
                    std::lock_guard lock(run->mutex);
                    return run->paused;
                },
                Test::waitMs(60000));
        }
        PendingOutput output = m_pump->take(run);
        if (checkPolling && !output.finished)
            lookForPolledPipes();
        batches.append(BatchShape { output.lines.size(), output.lines.capacity() });
        spareBlocks.append(m_pump->spareBlocks());
        for (const std::shared_ptr<char>& block : output.chunks)
            blocks.insert(quintptr(block.get()));
        for (const RawLine& raw : output.lines)
            lines.append(Seen { output.text(raw).toByteArray(), raw.flags });
        if (output.finished) {
            m_finished = true;
            status = output.status;
        }
        if (m_hold) {
            // The texts are read again at the end: a block reused meanwhile shows.
            m_held.push_back(std::move(output));
            if (m_finished)
                recheckHeld();
        } else {
            m_pump->recycle(std::move(output));
        }
    }

    void lookForPolledPipes()
    {
        ++pollingChecks;
        QDir fds(QStringLiteral("/proc/self/fd"));
        for (const QString& name : fds.entryList(QDir::Files | QDir::System)) {
            if (!QFile::symLinkTarget(fds.filePath(name)).endsWith(QLatin1String("anon_inode:[eventpoll]")))
                continue;
            QFile info(QStringLiteral("/proc/self/fdinfo/") + name);
            if (!info.open(QIODevice::ReadOnly))
                continue;
            // "tfd:        5 events:       19 data: ..." per member
            for (const QByteArray& line : info.readAll().split('\n')) {
                const QByteArrayList fields = line.simplified().split(' ');
                if (fields.size() >= 2 && fields.at(0) == "tfd:" && m_pipes.contains(fields.at(1).toInt()))
                    polledPipes << "fd " + fields.at(1) + " in epoll " + name.toLatin1();
            }
        }
    }

    void recheckHeld()
    {
        qsizetype index = 0;
        for (const PendingOutput& output : m_held) {
            for (const RawLine& raw : output.lines) {
                if (output.text(raw) != QByteArrayView(lines.at(index).text))
                    heldTextChanged = true;
                ++index;
            }
        }
    }

    const bool m_hold;
    QList<int> m_pipes;
    bool m_stall;
    bool m_finished = false;
    std::vector<PendingOutput> m_held;
    std::unique_ptr<OutputPump> m_pump;
};

// The kernel's flags ("VmFlags" of /proc/self/smaps) of the mapping holding `address`.
QList<QByteArray> mappingFlags(quintptr address)
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return {};
    bool inside = false;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        const qsizetype dash = line.indexOf('-');
        const qsizetype space = line.indexOf(' ');
        const qsizetype colon = line.indexOf(':');
        if (dash > 0 && space > dash && colon > space) {
            // A mapping's first line: "start-end perms ..." (hex addresses)
            const quintptr start = line.first(dash).toULongLong(nullptr, 16);
            const quintptr end = line.sliced(dash + 1, space - dash - 1).toULongLong(nullptr, 16);
            inside = start <= address && address < end;
        } else if (inside && line.startsWith("VmFlags:")) {
            return line.sliced(8).simplified().split(' ');
        }
    }
    return {};
}

QByteArray padded(int index, int length)
{
    QByteArray line = "line " + QByteArray::number(index);
    if (line.size() < length)
        line.append(QByteArray(length - line.size(), '.'));
    return line;
}

// Children run one after the other under one pump, each started as soon as
// the exit of the one before has been taken: the new run's entry often takes
// the memory of the one just gone. Every run's lines are kept apart.
class SequentialChildren : public QObject {
public:
    explicit SequentialChildren(int count)
        : m_count(count)
        , m_pump(makePump(this, [this](const std::shared_ptr<ProcessRun>& run) { handle(run); }))
    {
    }

    bool run()
    {
        startNext();
        return QTest::qWaitFor([this] { return m_failed || (int(lines.size()) == m_count && m_current == nullptr); },
                   Test::waitMs(120000))
            && !m_failed;
    }

    QList<QByteArrayList> lines; // per child

private:
    void startNext()
    {
        const int index = int(lines.size());
        m_current = spawnChild({ "out:" + padded(index, 200), "err:" + padded(index, 50), "exit:0" });
        if (!m_current) {
            m_failed = true;
            return;
        }
        lines.append(QByteArrayList());
        m_pump->add(m_current);
    }

    void handle(const std::shared_ptr<ProcessRun>& run)
    {
        PendingOutput output = m_pump->take(run);
        if (run != m_current) {
            m_failed = true; // output of a run that has ended
            return;
        }
        for (const RawLine& raw : output.lines)
            lines.last().append(output.text(raw).toByteArray());
        const bool finished = output.finished;
        m_pump->recycle(std::move(output));
        if (!finished)
            return;
        m_current.reset();
        if (int(lines.size()) < m_count)
            startNext();
    }

    const int m_count;
    bool m_failed = false;
    std::shared_ptr<ProcessRun> m_current;
    std::unique_ptr<OutputPump> m_pump;
};

} // namespace

class TestOutputPump : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_env = std::make_unique<Test::TestEnvironment>();
        QVERIFY(PipeWaiter::installWakeSignal());
    }

    // Many blocks' worth of output while every batch is held: each line still
    // reads as written at the end, so no block was read into again while a
    // batch pointed into it. Then the same with batches given back at once.
    void heldBatchesKeepTheirText_data()
    {
        QTest::addColumn<bool>("hold");
        QTest::newRow("batches held to the end") << true;
        QTest::newRow("batches recycled at once") << false;
    }
    void heldBatchesKeepTheirText()
    {
        QFETCH(bool, hold);
        PumpedChild child(hold);
        const int count = 120000; // 12 MB: several blocks, reads straddling them
        QVERIFY(child.run({ QStringLiteral("bulk:%1:100").arg(count), QStringLiteral("exit:0") }));
        QCOMPARE(child.status, 0);
        QCOMPARE(child.lines.size(), count);
        for (int i = 0; i < count; ++i) {
            if (child.lines.at(i).text != padded(i + 1, 100))
                QFAIL(qPrintable(
                    QStringLiteral("line %1 reads: ").arg(i + 1) + QString::fromLatin1(child.lines.at(i).text)));
        }
        QVERIFY(!child.heldTextChanged);
    }

    // Lines longer than the bound, in bulk: each is cut into pieces of the
    // bound, wherever the reads and blocks split it.
    void longLinesAreCutAcrossBlocks()
    {
        PumpedChild child(true);
        const int count = 300;
        const int length = 150000;
        QVERIFY(child.run({ QStringLiteral("bulk:%1:%2").arg(count).arg(length), QStringLiteral("exit:0") }));
        const qsizetype bound = LineAssembler::maxLineBytes;
        QCOMPARE(child.lines.size(), count * 3);
        for (int i = 0; i < count; ++i) {
            const QByteArray whole = padded(i + 1, length);
            const QByteArray joined
                = child.lines.at(3 * i).text + child.lines.at(3 * i + 1).text + child.lines.at(3 * i + 2).text;
            QCOMPARE(child.lines.at(3 * i).text.size(), bound);
            QCOMPARE(child.lines.at(3 * i + 1).text.size(), bound);
            QVERIFY(joined == whole);
        }
        QVERIFY(!child.heldTextChanged);
    }

    // A quiet spell longer than the idle limit lets the pump give back its
    // blocks; a batch from before it is held meanwhile and keeps its text,
    // and output after it arrives whole.
    void quietSpellKeepsHeldLinesAndLaterOutput()
    {
        PumpedChild child(true);
        QVERIFY(child.run(
            { QStringLiteral("lines:500:60"), QStringLiteral("sleep:%1").arg(OutputPump::idleTrim.count() + 500),
                QStringLiteral("bulk:500:60"), QStringLiteral("exit:0") }));
        QCOMPARE(child.lines.size(), 1000);
        for (int i = 0; i < 500; ++i) {
            QCOMPARE(child.lines.at(i).text, padded(i + 1, 60));
            QCOMPARE(child.lines.at(500 + i).text, padded(i + 1, 60));
        }
        QVERIFY(!child.heldTextChanged);
    }

    // A batch taken late holds a burst's worth of line records. Once it is
    // given back, its array must not be handed on to the small batches of a
    // trickle that follows: passed from batch to batch, it (and its pages)
    // would stay for as long as the trickle lasts, idle trim or not.
    void burstLineArraysAreNotKeptForATrickle()
    {
        PumpedChild child(false, true);
        const QString oneLine = QStringLiteral("lines:1");
        // Pauses long enough for the main thread to take each line alone, short
        // of the idle trim.
        const QString pause = QStringLiteral("sleep:400");
        QStringList steps { QStringLiteral("bulk:1000000") };
        for (int i = 0; i < 6; ++i)
            steps << pause << oneLine;
        QVERIFY(child.run(steps << QStringLiteral("exit:0")));
        QVERIFY(child.pausedBeforeTake);
        QCOMPARE(child.lines.size(), 1000006);
        std::size_t burst = 0;
        for (const BatchShape& batch : std::as_const(child.batches))
            burst = std::max(burst, batch.lines);
        QVERIFY2(burst > 300000, qPrintable(QString::number(burst)));
        int trickle = 0;
        for (qsizetype i = child.batches.size() - 1; i >= 0 && child.batches.at(i).lines <= 1; --i) {
            ++trickle;
            QVERIFY2(child.batches.at(i).capacity < burst / 4,
                qPrintable(QStringLiteral("%1 records of room for %2 lines")
                               .arg(child.batches.at(i).capacity)
                               .arg(child.batches.at(i).lines)));
        }
        QVERIFY(trickle >= 1);
    }

    // A burst leaves spare blocks for the next one. Output that trickles on
    // after it (so never a quiet spell) must not keep them mapped for good.
    void spareBlocksGoWhileOutputTricklesOn()
    {
        PumpedChild child(false);
        QStringList steps { QStringLiteral("bulk:100000:100") };
        // Well over the idle limit of trickling, each pause short of it.
        for (int i = 0; i < 8; ++i)
            steps << QStringLiteral("sleep:300") << QStringLiteral("lines:1");
        QVERIFY(child.run(steps << QStringLiteral("exit:0")));
        QCOMPARE(child.lines.size(), 100008);
        QVERIFY(*std::max_element(child.spareBlocks.cbegin(), child.spareBlocks.cend()) > 0);
        QCOMPARE(child.spareBlocks.last(), std::size_t(0));
    }

    // The blocks of a quiet stream are asked not to be huge pages: where huge
    // pages are the system's default, a few lines would otherwise keep 2 MiB
    // resident per block (the blocks are aligned to 2 MiB).
    void quietOutputBlocksAreNotHugePages()
    {
        if (!QFile::exists(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled")))
            QSKIP("this kernel has no transparent huge pages");
        PumpedChild quiet(true);
        QVERIFY(quiet.run({ QStringLiteral("lines:3"), QStringLiteral("exit:0") }));
        QVERIFY(!quiet.blocks.isEmpty());
        for (const quintptr block : std::as_const(quiet.blocks)) {
            const QList<QByteArray> flags = mappingFlags(block);
            QVERIFY2(flags.contains("nh") && !flags.contains("hg"), flags.join(' ').constData());
        }
    }

    // Each kind of line gets the flags of the per-line checks, both when it
    // arrives whole in one read (marks) and when it is put together from
    // pieces (copied aside, checked alone).
    void flagsFollowTheLine_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("stderr");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("flags");
        const int error = RawLine::error;
        const int port = RawLine::maybePort;
        const int nonAscii = RawLine::nonAscii;
        const int fromStderr = RawLine::standardError | RawLine::error;
        QTest::newRow("plain") << QByteArray("GET /path 200 pattern\n") << false << QByteArray("GET /path 200 pattern")
                               << 0;
        QTest::newRow("error word") << QByteArray("Unhandled rejection\n") << false << QByteArray("Unhandled rejection")
                                    << error;
        QTest::newRow("word inside a word")
            << QByteArray("terrors fatalism\n") << false << QByteArray("terrors fatalism") << 0;
        QTest::newRow("in use") << QByteArray("port 3000 in use\n") << false << QByteArray("port 3000 in use") << port;
        QTest::newRow("eaddrinuse") << QByteArray("code: EADDRINUSE\n") << false << QByteArray("code: EADDRINUSE")
                                    << (error | port);
        QTest::newRow("crlf") << QByteArray("fatal: x\r\n") << false << QByteArray("fatal: x") << error;
        QTest::newRow("non-ascii") << QByteArray("caf\xc3\xa9 error\n") << false << QByteArray("caf\xc3\xa9 error")
                                   << (nonAscii | port | error);
        QTest::newRow("stderr plain") << QByteArray("all good\n") << true << QByteArray("all good") << fromStderr;
        QTest::newRow("stderr in use") << QByteArray("in use\n") << true << QByteArray("in use") << (fromStderr | port);
    }
    void flagsFollowTheLine()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, stderr);
        QFETCH(QByteArray, text);
        QFETCH(int, flags);
        const QString raw = stderr ? QStringLiteral("rawerr:") : QStringLiteral("raw:");
        const QString whole = QString::fromLatin1(bytes.toHex());
        const qsizetype half = bytes.size() / 2;
        const QString first = QString::fromLatin1(bytes.first(half).toHex());
        const QString second = QString::fromLatin1(bytes.sliced(half).toHex());
        PumpedChild child(false);
        // The line whole, then the same line in two writes with a pause between.
        QVERIFY(child.run({ raw + whole, QStringLiteral("sleep:100"), raw + first, QStringLiteral("sleep:100"),
            raw + second, QStringLiteral("exit:0") }));
        QCOMPARE(child.lines.size(), 2);
        for (const Seen& seen : std::as_const(child.lines)) {
            QCOMPARE(seen.text, text);
            QCOMPARE(int(seen.flags), flags);
        }
    }

    // A quiet pipe is waited on by reading its first byte: that byte must come
    // first, whatever it is part of (a character, a CRLF), on either stream.
    void bytesOfAQuietPipeKeepTheirOrder_data()
    {
        QTest::addColumn<bool>("stderr");
        QTest::newRow("stdout") << false;
        QTest::newRow("stderr") << true;
    }
    void bytesOfAQuietPipeKeepTheirOrder()
    {
        QFETCH(bool, stderr);
        const QString raw = stderr ? QStringLiteral("rawerr:") : QStringLiteral("raw:");
        const QByteArray bytes("ab\xc3\xa9\r\nnext\n");
        QStringList steps;
        for (const char byte : bytes)
            steps << raw + QString::fromLatin1(QByteArray(1, byte).toHex()) << QStringLiteral("sleep:20");
        PumpedChild child(false);
        QVERIFY(child.run(steps << QStringLiteral("exit:0")));
        QCOMPARE(child.lines.size(), 2);
        QCOMPARE(child.lines.at(0).text, QByteArray("ab\xc3\xa9"));
        QCOMPARE(child.lines.at(1).text, QByteArray("next"));
    }

    // The child's pipes are never polled: once a pipe is, the kernel wakes
    // its readers on every write, and a child writing line by line pays for
    // that on each line. No epoll set of this process may hold them.
    void childPipesAreNeverPolled()
    {
        PumpedChild child(false);
        child.checkPolling = true;
        QVERIFY(child.run({ QStringLiteral("lines:200"), QStringLiteral("sleep:100"), QStringLiteral("errlines:200"),
            QStringLiteral("sleep:100"), QStringLiteral("bulk:20000"), QStringLiteral("exit:0") }));
        QCOMPARE(child.lines.size(), 20400);
        QVERIFY(child.pollingChecks > 0);
        QVERIFY2(child.polledPipes.isEmpty(), child.polledPipes.join(", ").constData());
    }

    // Runs that follow each other under one pump: no line of one reaches
    // another, none is lost, and none arrives in pieces.
    void runsInSuccessionKeepTheirLines()
    {
        const int count = 150;
        SequentialChildren children(count);
        QVERIFY(children.run());
        QCOMPARE(children.lines.size(), count);
        for (int i = 0; i < count; ++i) {
            QByteArrayList expected { padded(i, 200), padded(i, 50) };
            QByteArrayList got = children.lines.at(i);
            std::sort(
                got.begin(), got.end(), [](const QByteArray& a, const QByteArray& b) { return a.size() > b.size(); });
            QVERIFY2(
                got == expected, qPrintable(QStringLiteral("child %1: ").arg(i) + QString::fromLatin1(got.join('|'))));
        }
    }

    // The child exits while a descendant keeps both pipes open and silent:
    // the exit is reported at once with everything written before it, not
    // when the descendant lets go of the pipes.
    void exitIsReportedWhileADescendantHoldsThePipes()
    {
        PumpedChild child(false);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(child.run({ QStringLiteral("out:before"), QStringLiteral("grandchild"), QStringLiteral("{"),
            QStringLiteral("sleep:30000"), QStringLiteral("}"), QStringLiteral("out:after"),
            QStringLiteral("exit:3") }));
        const qint64 elapsed = timer.elapsed();
        QByteArrayList texts;
        for (const Seen& seen : std::as_const(child.lines))
            texts << seen.text;
        for (const QByteArray& text : std::as_const(texts)) {
            if (text.startsWith("grandchild "))
                ::kill(text.sliced(11).toInt(), SIGKILL);
        }
        QCOMPARE(child.status, 3);
        QVERIFY2(texts.contains("before") && texts.contains("after"), texts.join('|').constData());
        QVERIFY2(elapsed < 20000, qPrintable(QString::number(elapsed)));
    }

    // No block of memory to be had at all: nothing is read while the child
    // runs, its exit is still reported, and the output left in its pipe is
    // replaced by one line that says it could not be read. An empty pipe
    // loses nothing and says nothing.
    void withoutMemoryTheExitComesAndTheUnreadOutputIsMarked()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no memory for child output")));
        PumpedChild child(false, false, 0);
        QVERIFY(child.run({ QStringLiteral("out:hello"), QStringLiteral("sleep:300"), QStringLiteral("exit:3") }));
        QCOMPARE(child.status, 3);
        QCOMPARE(child.lines.size(), 1);
        QCOMPARE(child.lines.at(0).text, QByteArray(OutputPump::lostRestText.data(), OutputPump::lostRestText.size()));
        QCOMPARE(child.lines.at(0).flags, quint8(RawLine::error));
    }

    // Two blocks for 6 MB of output: reading waits each time until the main
    // thread has given a batch back, and every line arrives as written.
    void bulkOutputThroughTwoBlocksArrivesWhole()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no memory for child output")));
        // The drain waits for blocks as long as a loaded machine may take to
        // hand them back: a wait that ends is a fault, however long it was.
        PumpedChild child(false, false, 2, 20000);
        const int count = 60000;
        QVERIFY(child.run({ QStringLiteral("bulk:%1:100").arg(count), QStringLiteral("exit:0") }));
        QCOMPARE(child.status, 0);
        // Where the lines part from what was written says what went wrong.
        for (int i = 0; i < std::min<qsizetype>(count, child.lines.size()); ++i) {
            if (child.lines.at(i).text != padded(i + 1, 100))
                QFAIL(qPrintable(QStringLiteral("%1 lines; line %2 reads: ").arg(child.lines.size()).arg(i + 1)
                    + QString::fromLatin1(child.lines.at(i).text.left(120))));
        }
        QCOMPARE(child.lines.size(), count);
    }

    // One block only: reads go into it, but a line put together from two
    // reads needs a second block to be copied to. That line is replaced by
    // one that says it was lost; the lines around it arrive as written.
    void aLineThatCannotBeCopiedAsideIsMarkedLost()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no memory for child output")));
        PumpedChild child(false, false, 1);
        QVERIFY(child.run({ QStringLiteral("out:before"), QStringLiteral("raw:68656c"), QStringLiteral("sleep:300"),
            QStringLiteral("raw:6c6f0a"), QStringLiteral("out:after"), QStringLiteral("exit:0") }));
        QCOMPARE(child.status, 0);
        QByteArrayList texts;
        for (const Seen& seen : std::as_const(child.lines))
            texts.append(seen.text);
        QCOMPARE(texts,
            (QByteArrayList {
                "before", QByteArray(OutputPump::lostLineText.data(), OutputPump::lostLineText.size()), "after" }));
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestOutputPump)
#include "TestOutputPump.moc"
