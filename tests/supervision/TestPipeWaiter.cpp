// The pipe waiter on real pipes: what it reads, what it reports, and that
// stopping it never loses or duplicates a byte, however a write races it.

#include "supervision/PipeWaiter.h"

#include <QtTest>

#include <csignal>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace Wardlamp::Detail;

namespace {

class Pipe {
public:
    Pipe() { m_ok = ::pipe2(m_fds, O_CLOEXEC) == 0; }
    ~Pipe()
    {
        closeWriteEnd();
        if (m_ok)
            ::close(m_fds[0]);
    }
    bool ok() const { return m_ok; }
    int readEnd() const { return m_fds[0]; }
    bool write(QByteArrayView bytes) const
    {
        return ::write(m_fds[1], bytes.data(), size_t(bytes.size())) == bytes.size();
    }
    void closeWriteEnd()
    {
        if (m_ok && m_fds[1] >= 0)
            ::close(std::exchange(m_fds[1], -1));
    }
    // What the pipe holds now, read without waiting.
    QByteArray drain() const
    {
        ::fcntl(m_fds[0], F_SETFL, ::fcntl(m_fds[0], F_GETFL) | O_NONBLOCK);
        QByteArray all;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(m_fds[0], buffer, sizeof buffer)) > 0)
            all.append(buffer, n);
        ::fcntl(m_fds[0], F_SETFL, ::fcntl(m_fds[0], F_GETFL) & ~O_NONBLOCK);
        return all;
    }

private:
    int m_fds[2] { -1, -1 };
    bool m_ok = false;
};

void spinFor(std::chrono::microseconds span)
{
    const auto until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until)
        ;
}

} // namespace

class TestPipeWaiter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The wake signal's handler is the process's: the library installs it
    // only when asked, and no waiter starts before.
    void initTestCase()
    {
        struct sigaction before { };
        QCOMPARE(::sigaction(SIGURG, nullptr, &before), 0);
        QVERIFY(!(before.sa_flags & SA_SIGINFO) && before.sa_handler == SIG_DFL);
        QVERIFY(!PipeWaiter::wakeSignalInstalled());
        Pipe pipe;
        QVERIFY(pipe.ok());
        QVERIFY(!PipeWaiter::start(pipe.readEnd(), [] {}));
        QVERIFY(PipeWaiter::installWakeSignal());
        QVERIFY(PipeWaiter::installWakeSignal());
        QVERIFY(PipeWaiter::wakeSignalInstalled());
    }

    // One byte per wait: the rest stays in the pipe for the reader, and the
    // next wait begins only when armed again.
    void takesOneByteAndRings()
    {
        Pipe pipe;
        QVERIFY(pipe.ok());
        std::atomic<int> rings = 0;
        auto waiter = PipeWaiter::start(pipe.readEnd(), [&] { ++rings; });
        QVERIFY(waiter);
        waiter->arm();
        QVERIFY(waiter->armed());
        QCOMPARE(waiter->take().kind, PipeWaiter::Result::nothing);
        QVERIFY(pipe.write("abc"));
        QTRY_COMPARE_WITH_TIMEOUT(rings.load(), 1, 10000);
        QVERIFY(!waiter->armed());
        const PipeWaiter::Result result = waiter->take();
        QCOMPARE(result.kind, PipeWaiter::Result::byte);
        QCOMPARE(result.value, 'a');
        QCOMPARE(waiter->take().kind, PipeWaiter::Result::nothing);
        QCOMPARE(pipe.drain(), QByteArray("bc"));

        waiter->arm();
        pipe.closeWriteEnd();
        QTRY_COMPARE_WITH_TIMEOUT(rings.load(), 2, 10000);
        QCOMPARE(waiter->take().kind, PipeWaiter::Result::end);
    }

    // Stopping a waiter blocked on an empty pipe returns at once and takes
    // nothing from it; a byte it had already read is still there for take().
    void stopLosesNothing()
    {
        Pipe pipe;
        QVERIFY(pipe.ok());
        auto waiter = PipeWaiter::start(pipe.readEnd(), [] {});
        QVERIFY(waiter);
        waiter->arm();
        QElapsedTimer timer;
        timer.start();
        waiter->stop();
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(waiter->take().kind, PipeWaiter::Result::nothing);
        QVERIFY(pipe.write("x"));
        QCOMPARE(pipe.drain(), QByteArray("x"));

        std::atomic<bool> rang = false;
        auto second = PipeWaiter::start(pipe.readEnd(), [&] { rang = true; });
        QVERIFY(second);
        second->arm();
        QVERIFY(pipe.write("yz"));
        QTRY_VERIFY_WITH_TIMEOUT(rang.load(), 10000);
        second->stop();
        const PipeWaiter::Result result = second->take();
        QCOMPARE(result.kind, PipeWaiter::Result::byte);
        QCOMPARE(result.value, 'y');
        QCOMPARE(pipe.drain(), QByteArray("z"));
    }

    // A write lands just before, during or just after stop(): the byte ends
    // up either with the waiter or in the pipe, exactly once.
    void stopRacingAWriteKeepsTheByteOnce()
    {
        using namespace std::chrono;
        int withWaiter = 0;
        int inPipe = 0;
        for (int round = 0; round < 400; ++round) {
            Pipe pipe;
            QVERIFY(pipe.ok());
            auto waiter = PipeWaiter::start(pipe.readEnd(), [] {});
            QVERIFY(waiter);
            waiter->arm();
            // Every other round the waiter is surely inside read() first.
            if (round % 2)
                std::this_thread::sleep_for(milliseconds(2));
            // The write and stop() start at offsets that vary from round to round.
            const auto writeAt = microseconds(round / 2 % 10 * 25);
            const auto stopAt = round / 20 % 10 == 9 ? milliseconds(2) : microseconds(round / 20 % 10 * 25);
            std::atomic<bool> go = false;
            std::thread writer([&] {
                while (!go.load())
                    ;
                spinFor(writeAt);
                pipe.write("q");
            });
            go = true;
            spinFor(stopAt);
            waiter->stop();
            writer.join();
            const PipeWaiter::Result result = waiter->take();
            const QByteArray left = pipe.drain();
            if (result.kind == PipeWaiter::Result::byte) {
                QCOMPARE(result.value, 'q');
                QCOMPARE(left, QByteArray());
                ++withWaiter;
            } else {
                QCOMPARE(result.kind, PipeWaiter::Result::nothing);
                QCOMPARE(left, QByteArray("q"));
                ++inPipe;
            }
        }
        qInfo("byte taken by the waiter in %d rounds, left in the pipe in %d", withWaiter, inPipe);
        // Rounds that stop 2 ms after a waiter settled in read() and an early
        // write: the waiter has the byte in all but a starved run.
        QVERIFY(withWaiter > 0);
    }
};

QTEST_GUILESS_MAIN(TestPipeWaiter)
#include "TestPipeWaiter.moc"
