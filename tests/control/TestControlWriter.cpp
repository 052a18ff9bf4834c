// ControlWriter over real socket pairs: followers of a flood that never lets
// up take turns at the shared rate, and a reply behind one's lines gets out.

#include "TestEnvironment.h"
#include "control/ControlOutbox.h"
#include "control/ControlWriter.h"

#include <QScopeGuard>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Wardlamp;

class TestControlWriter : public QObject {
    Q_OBJECT

private:
    static ControlOutbox::Message lines(const QByteArray& body, int count)
    {
        return { "{\"id\":7,\"event\":", body, "}\n", count };
    }

private Q_SLOTS:
    // A flood that never lets up, to followers that read at once: each gets
    // turns, and a reply queued behind a follower's lines arrives, while it
    // goes on.
    void followersOfAnEndlessFloodEachGetTurns()
    {
        constexpr int followers = 3;
        ControlWriter writer;
        std::vector<std::shared_ptr<ControlOutbox>> outboxes;
        std::vector<pollfd> readEnds;
        std::array<std::atomic<qsizetype>, followers> received {};
        std::atomic<bool> replied = false;
        std::atomic<bool> done = false;
        for (int i = 0; i < followers; ++i) {
            int fds[2];
            QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
            outboxes.push_back(std::make_shared<ControlOutbox>(8 << 20));
            writer.add(fds[0], outboxes.back());
            ::close(fds[0]);
            readEnds.push_back({ fds[1], POLLIN, 0 });
        }
        std::thread reader([&] {
            std::vector<char> buffer(1 << 20);
            QByteArray tail;
            while (!done) {
                if (::poll(readEnds.data(), readEnds.size(), 10) <= 0)
                    continue;
                for (size_t i = 0; i < readEnds.size(); ++i) {
                    const ssize_t n = ::recv(readEnds[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                    if (n <= 0)
                        continue;
                    received[i] += n;
                    if (i != followers - 1)
                        continue;
                    // The reply may straddle two reads.
                    const QByteArrayView chunk(buffer.data(), n);
                    const QByteArrayView reply("\"id\":8");
                    if (chunk.contains(reply)
                        || QByteArray(tail + chunk.first(std::min<qsizetype>(n, 16))).contains(reply))
                        replied = true;
                    tail = chunk.last(std::min<qsizetype>(n, 16)).toByteArray();
                }
            }
        });
        // A check that fails returns early: the reader must not outlive it.
        const auto joinReader = qScopeGuard([&] {
            done = true;
            if (reader.joinable())
                reader.join();
        });
        const QByteArray body(64 * 1024, 'f');
        QTimer flood;
        QObject::connect(&flood, &QTimer::timeout, [&] {
            // New lines every tick, more than the shared rate even at a slow
            // timer's pace; the outboxes drop their oldest when full.
            for (const auto& outbox : outboxes) {
                for (int i = 0; i < 4; ++i)
                    QVERIFY(outbox->push(lines(body, 100)));
            }
            writer.wake();
        });
        flood.start(1);
        QTRY_VERIFY_WITH_TIMEOUT(received.back() > 0, Test::waitMs(5000));
        QVERIFY(outboxes.back()->push({ "{\"id\":8,\"result\":{}}\n", {}, {} }));
        const bool allGotTurns = QTest::qWaitFor(
            [&] { return std::ranges::all_of(received, [](const auto& n) { return n > (4 << 20); }); },
            Test::waitMs(20000));
        // In turns: each has about a third of what was sent (one that kept
        // the turn would have several times the others' share).
        std::array<qsizetype, followers> shares {};
        std::ranges::transform(received, shares.begin(), [](const auto& n) { return qsizetype(n); });
        const auto [fewest, most] = std::ranges::minmax(shares);
        const bool replyCame = QTest::qWaitFor([&] { return bool(replied); }, Test::waitMs(20000));
        flood.stop();
        done = true;
        reader.join();
        for (size_t i = 0; i < outboxes.size(); ++i) {
            outboxes[i]->clear();
            writer.remove(outboxes[i]);
            ::close(readEnds[i].fd);
        }
        const QString figures = QStringLiteral("%1 %2 %3").arg(shares[0]).arg(shares[1]).arg(shares[2]);
        QVERIFY2(allGotTurns, qPrintable(figures));
        QVERIFY2(most < 2 * fewest, qPrintable(figures));
        QVERIFY(replyCame);
    }
};

QTEST_GUILESS_MAIN(TestControlWriter)
#include "TestControlWriter.moc"
